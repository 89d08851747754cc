#include "app/TApplication.h"

#include <QDialog>
#include <QFont>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QStyle>
#include <QStyleFactory>
#include <QTranslator>
#include <QWindow>

#include <cxxabi.h>
#include <clocale>
#include <filesystem>
#include <typeinfo>

#include "app/AppTexts.h"
#include "app/TMessageForm.h"
#include "app/TQtApplication.h"
#include "platform/TCodePage.h"
#include "store/TNotice.h"

namespace vantelo {

TApplication* Application = nullptr;

namespace {

QString ToQString(const std::string& narrow)
{
    return QString::fromStdU16String(TCodePage::Active().ToWide(narrow));
}

std::string ExecutablePath(char** argv)
{
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        return path.string();
    return argv && argv[0] ? argv[0] : "";
}

std::string Demangle(const char* name)
{
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> readable(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                                          &std::free);
    return status == 0 && readable ? readable.get() : name;
}

}  // namespace

TApplication::TApplication(int& argc, char** argv)
{
    Application = this;
    // The user's locale names the code page of file names and messages. It
    // is read before the toolkit comes up: the toolkit switches the C
    // library's character type to UTF-8 for itself, after which the locale
    // would always answer UTF-8.
    std::setlocale(LC_ALL, "");
    TCodePage::SetActive(TCodePage::KindFromLocale());
    const std::string exePath = ExecutablePath(argv).substr(0, 255);
    title_ = TitleFromExePath(exePath);
    moduleName_ = std::filesystem::path(exePath).filename().string();

    qtApp_ = std::make_unique<TQtApplication>(argc, argv);
    // The run ends when the main form closes, not when the last window does.
    QApplication::setQuitOnLastWindowClosed(false);
    QCoreApplication::setApplicationName(ToQString(title_));
    QGuiApplication::setDesktopFileName(ToQString(title_));
    // The toolkit's own texts (context menus, standard buttons) in the
    // user's language, as the desktop's own would be.
    LoadToolkitTexts(QLocale::system());
    // Classic, unthemed controls in the system colours.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Windows"))) {
        QApplication::setStyle(style);
        QApplication::setPalette(style->standardPalette());
    }
    // The forms name the Song face the Chinese desktop has; map it onto the
    // installed Song face whose 12-pixel cell is 12 pixels high.
    QFont::insertSubstitution(QStringLiteral("宋体"), QStringLiteral("AR PL UMing CN"));
    // The store's messages (the query routine's failure text) go to the
    // tool's message box.
    SetNoticeHandler([](const std::string& text) { ShowNotice(text); });
}

TApplication::~TApplication()
{
    ShutdownApplication();
    toolkitTexts_.reset();
    qtApp_.reset();
    if (Application == this)
        Application = nullptr;
}

std::string TApplication::TitleFromExePath(const std::string& path)
{
    const TCodePage& codePage = TCodePage::Active();
    // Drop the folder, then cut at the first "." (not the last); neither
    // counts when it is the second byte of a double-byte character.
    const size_t slash = codePage.FindLastChar(path, '/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (const size_t dot = codePage.FindChar(name, '.'); dot != std::string::npos)
        name.resize(dot);
    if (name.empty())
        return name;
    // Lower every character after the first.
    QString text = ToQString(name);
    const int firstLength = text.at(0).isHighSurrogate() && text.size() > 1 ? 2 : 1;
    text = text.left(firstLength) + text.mid(firstLength).toLower();
    return codePage.ToNarrow(text.toStdU16String());
}

bool TApplication::LoadToolkitTexts(const QLocale& locale)
{
    if (toolkitTexts_)
        QCoreApplication::removeTranslator(toolkitTexts_.get());
    toolkitTexts_ = std::make_unique<QTranslator>();
    // "qt" gathers the catalogues of every toolkit module; "qtbase" holds
    // the widgets' texts and is tried alone where only it is installed.
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!toolkitTexts_->load(locale, QStringLiteral("qt"), QStringLiteral("_"), folder) &&
        !toolkitTexts_->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
        toolkitTexts_.reset();
        return false;
    }
    QCoreApplication::installTranslator(toolkitTexts_.get());
    return true;
}

void TApplication::AdoptWidget(QWidget* widget, std::string name)
{
    QPointer<QWidget> guard(widget);
    owned_.push_back({std::move(name), [guard] { delete guard.data(); }});
    if (!mainForm_) {
        // The first form created is the main form; its window exists, hidden.
        mainForm_ = widget;
        // The taskbar labels the tool with its title, not the main window's
        // caption: the icon name is what taskbars and icon boxes read.
        widget->setWindowIconText(ToQString(title_));
        widget->winId();
    }
}

void TApplication::AdoptComponent(std::unique_ptr<TComponent> component)
{
    TComponent* raw = component.release();
    owned_.push_back({raw->Name(), [raw] { delete raw; }});
    TComponent::RegisterModule(*raw);
}

void TApplication::RunLoop()
{
    running_ = true;
    if (mainForm_) {
        // Showing runs the main form's show handler, which guards itself.
        mainForm_->show();
        if (!terminated_)
            QApplication::exec();
    }
    terminated_ = true;
    running_ = false;
}

void TApplication::RequestTerminate()
{
    terminated_ = true;
    QCoreApplication::exit(0);
}

int TApplication::ShowFormModal(QDialog& form)
{
    if (form.isVisible() || !form.isEnabled() || form.isModal())
        throw Exception(texts::kCannotMakeVisibleWindowModal);
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    ++modalLevel_;
    struct LevelGuard {
        int& level;
        ~LevelGuard() { --level; }
    } levelGuard{modalLevel_};

    QPointer<QWidget> previousActive = QApplication::activeWindow();
    const bool hadOverrideCursor = QApplication::overrideCursor() != nullptr;
    if (hadOverrideCursor)
        QApplication::setOverrideCursor(Qt::ArrowCursor);

    // Transient for the main form: no taskbar entry of its own.
    if (mainForm_ && mainForm_ != &form && !form.parentWidget()) {
        form.winId();
        if (QWindow* window = form.windowHandle())
            window->setTransientParent(mainForm_->windowHandle());
    }
    form.setWindowModality(Qt::ApplicationModal);
    form.setResult(0);
    int result = terminated_ ? 2 : form.exec();
    if (terminated_)
        result = 2;
    form.setWindowModality(Qt::NonModal);

    if (hadOverrideCursor)
        QApplication::restoreOverrideCursor();
    if (previousActive && QApplication::activeWindow() == nullptr)
        previousActive->activateWindow();
    return result;
}

void TApplication::HandleUncaughtError(QObject*, std::exception_ptr error) noexcept
{
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    try {
        try {
            std::rethrow_exception(error);
        } catch (const EAbort&) {
            // The silent abort.
        } catch (const Exception& exception) {
            ShowErrorBox(exception);
        } catch (const std::exception& exception) {
            ShowGenericReport(Demangle(typeid(exception).name()), "");
        } catch (...) {
            const std::type_info* type = abi::__cxa_current_exception_type();
            ShowGenericReport(type ? Demangle(type->name()) : "unknown", "");
        }
    } catch (...) {
        // Showing the error failed too; the run goes on regardless.
    }
}

std::string TApplication::WithFullStop(std::string text)
{
    if (text.empty())
        return text;
    const TCodePage& codePage = TCodePage::Active();
    size_t last = 0;
    for (size_t i = 0; i < text.size(); i += codePage.CharLength(text, i))
        last = i;
    if (static_cast<unsigned char>(text[last]) > static_cast<unsigned char>('.'))
        text += '.';
    return text;
}

void TApplication::ShowErrorBox(const Exception& error)
{
    ApplicationMessageBox(WithFullStop(error.Message()), Title(), MB_OK | MB_ICONSTOP);
}

std::string TApplication::GenericReportText(const std::string& className, const std::string& moduleName,
                                            const std::string& message)
{
    const bool needsStop = !message.empty() && message.back() != '.';
    // The code offset cannot be recovered for a C++ exception; it shows as 0.
    return Format(texts::kGenericReportFormat, className.c_str(), moduleName.c_str(), 0u, message.c_str(),
                  needsStop ? "." : "");
}

void TApplication::ShowGenericReport(const std::string& className, const std::string& message)
{
    ApplicationMessageBox(GenericReportText(className, moduleName_, message), texts::kApplicationErrorCaption,
                          MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

QWidget* TApplication::ActiveWindowOrMain() const
{
    if (QWidget* active = QApplication::activeWindow())
        return active;
    return mainForm_;
}

int TApplication::ApplicationMessageBox(const std::string& text, const std::string& caption, unsigned flags)
{
    if (messageBoxHook_)
        return messageBoxHook_(text, caption, flags);
    QPointer<QWidget> previousActive = QApplication::activeWindow();
    QMessageBox box(mainForm_ && mainForm_->isVisible() ? mainForm_.data() : nullptr);
    box.setWindowTitle(ToQString(caption));
    box.setText(ToQString(text));
    box.setTextFormat(Qt::PlainText);
    box.setIcon((flags & MB_ICONSTOP) ? QMessageBox::Critical : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    if (previousActive)
        previousActive->activateWindow();
    return IDOK;
}

void TApplication::ShutdownApplication()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    // Last created first: the data module goes before the main form, so the
    // main form's query never outlives the connection it uses.
    while (!owned_.empty()) {
        Owned last = std::move(owned_.back());
        owned_.pop_back();
        last.destroy();
    }
}

}  // namespace vantelo
