// The application object: one per process. It holds the application title,
// creates and owns the tool's top-level modules (the first form created is the
// main form), runs the message loop and every modal loop, shows errors that no
// handler caught, and destroys the modules last-created-first at shutdown.
#pragma once

#include <QPointer>
#include <QWidget>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/Exception.h"
#include "store/TComponent.h"

class QDialog;
class QLocale;
class QTranslator;

namespace vantelo {

class TQtApplication;

class TApplication {
public:
    // Message box flags, as the error box and the generic report pass them.
    enum : unsigned { MB_OK = 0x0, MB_ICONSTOP = 0x10, MB_TASKMODAL = 0x2000 };
    // Result of a message box's OK button.
    static constexpr int IDOK = 1;

    // Takes the user's locale and chooses the code page from its character
    // set, brings up the toolkit (classic "Windows" style, the window font's
    // family mapped onto an installed face, its own texts in the user's
    // language) and derives the title from the executable's own file name.
    TApplication(int& argc, char** argv);
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // The title: the executable's name without folder, cut at its first ".",
    // every character after the first lowered. Bytes in the tool's code page.
    const std::string& Title() const { return title_; }
    static std::string TitleFromExePath(const std::string& path);

    // Creates a module owned by this object and stores it in `ref`. The first
    // widget created becomes the main form (created hidden). A component
    // module is registered by name so that references to its components made
    // earlier are bound now. If construction throws, `ref` is null and the
    // error goes on to the caller.
    template <class T, class... Args>
    void CreateModule(T*& ref, Args&&... args);

    QWidget* MainForm() const { return mainForm_; }
    bool Terminated() const { return terminated_; }
    bool Running() const { return running_; }
    int ModalLevel() const { return modalLevel_; }

    // Shows the main form and runs the message loop until the run ends.
    // Returns at once when there is no main form.
    void RunLoop();
    // Ends the run: leaves the message loop; an open modal form closes with 2.
    void RequestTerminate();
    // Shows a form modally and answers its result value (2 when the run was
    // ended meanwhile). Raises "Cannot make a visible window modal" for a
    // form that is already visible, disabled or modal.
    int ShowFormModal(QDialog& form);

    // The catch-all for an error that escaped a handler: EAbort is silent,
    // an Exception goes to the error box, anything else to the generic report.
    void HandleUncaughtError(QObject* sender, std::exception_ptr error) noexcept;
    // Shows one error in the error box (stop icon, OK, the title as caption),
    // with a full stop added by the rule of WithFullStop.
    void ShowErrorBox(const Exception& error);
    // Appends "." unless the text is empty or its last character's first byte
    // is "." (0x2E) or below (so not after ".", "!", ")", ",", "-", a space,
    // CR or LF).
    static std::string WithFullStop(std::string text);
    // The report for a raised object that is not an Exception.
    void ShowGenericReport(const std::string& className, const std::string& message);
    static std::string GenericReportText(const std::string& className, const std::string& moduleName,
                                         const std::string& message);

    // A platform message box modal to the whole tool, owned by the main form.
    // Returns the button's result (IDOK).
    int ApplicationMessageBox(const std::string& text, const std::string& caption, unsigned flags);

    // Destroys the owned modules, last created first. Runs once.
    void ShutdownApplication();

    // Test hook: when set, ApplicationMessageBox calls it instead of showing
    // a box, and answers what it returns.
    using MessageBoxHook = std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;
    void SetMessageBoxHook(MessageBoxHook hook) { messageBoxHook_ = std::move(hook); }

    QWidget* ActiveWindowOrMain() const;

    // Puts the toolkit's own texts (context menus, standard buttons) into
    // the language of `locale`, replacing those loaded before; with no
    // catalogue for it the toolkit speaks English. The constructor loads
    // those of the user's locale. Answers whether a catalogue was found.
    bool LoadToolkitTexts(const QLocale& locale);

private:
    struct Owned {
        std::string name;
        std::function<void()> destroy;
    };
    void AdoptWidget(QWidget* widget, std::string name);
    void AdoptComponent(std::unique_ptr<TComponent> component);

    std::unique_ptr<TQtApplication> qtApp_;
    std::unique_ptr<QTranslator> toolkitTexts_;
    std::string title_;
    std::string moduleName_;
    QPointer<QWidget> mainForm_;
    std::vector<Owned> owned_;
    bool terminated_ = false;
    bool running_ = false;
    bool shutDown_ = false;
    int modalLevel_ = 0;
    MessageBoxHook messageBoxHook_;
};

// The process's application object (set by its constructor).
extern TApplication* Application;

template <class T, class... Args>
void TApplication::CreateModule(T*& ref, Args&&... args)
{
    ref = nullptr;
    try {
        if constexpr (std::is_base_of_v<QWidget, T>) {
            auto module = std::make_unique<T>(std::forward<Args>(args)...);
            ref = module.get();
            AdoptWidget(module.release(), ref->objectName().toStdString());
        } else {
            static_assert(std::is_base_of_v<TComponent, T>, "a module is a widget or a component");
            auto module = std::make_unique<T>(std::forward<Args>(args)...);
            ref = module.get();
            AdoptComponent(std::move(module));
        }
    } catch (...) {
        ref = nullptr;
        throw;
    }
}

}  // namespace vantelo
