// The application object: title rule, full-stop rule, errors escaping
// handlers, module ownership and shutdown order, modal showing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <stdexcept>
#include <vector>

#include "app/AppTexts.h"
#include "app/TApplication.h"
#include "app/THandlerGuard.h"
#include "app/TModalForm.h"
#include "app/TStartup.h"

using namespace vantelo;

namespace {

struct BoxRecord {
    std::string text, caption;
    unsigned flags;
};

// Captures every platform box the application object would show.
class BoxRecorder {
public:
    BoxRecorder()
    {
        Application->SetMessageBoxHook([this](const std::string& text, const std::string& caption, unsigned flags) {
            boxes.push_back({text, caption, flags});
            return TApplication::IDOK;
        });
    }
    ~BoxRecorder() { Application->SetMessageBoxHook(nullptr); }
    std::vector<BoxRecord> boxes;
};

}  // namespace

TEST(ApplicationTitle, IsTheExecutableNameCutAtTheFirstDotAndLoweredAfterTheFirstCharacter)
{
    const struct {
        const char* path;
        const char* title;
    } rows[] = {
        {"/opt/tools/Tool.EXE", "Tool"},
        {"/opt/tools/MY.BATCH.EXE", "My"},
        {"abc.exe", "abc"},
        {"/usr/bin/vantelo", "vantelo"},
        {"/home/u/v1.2/ReNamer", "Renamer"},   // dots in folders do not count
        {"/x/ÜBERTOOL.bin", "Übertool"},        // multi-byte characters lowered as characters
        {"/x/文件TOOL.exe", "文件tool"},
        {"/x/.hidden", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(TApplication::TitleFromExePath(row.path), row.title) << row.path;
}

TEST(ApplicationTitle, OfTheTestExecutableIsItsFileName)
{
    EXPECT_EQ(Application->Title().rfind("test_app_", 0), 0u) << Application->Title();
}

TEST(ErrorBox, AddsAFullStopOnlyAfterCharactersAboveTheFullStop)
{
    const struct {
        const char* text;
        const char* shown;
    } rows[] = {
        {"Disk full", "Disk full."},
        {"Done.", "Done."},
        {"", ""},
        {"Stop!", "Stop!"},
        {"(see above)", "(see above)"},
        {"a,", "a,"},
        {"a-", "a-"},
        {"trailing space ", "trailing space "},
        {"line\r\n", "line\r\n"},
        {"path/", "path/."},
        {"why?", "why?."},
        {"key:", "key:."},
        {"数据库打开失败", "数据库打开失败."},
        {"ADOQueryTemp: Cannot perform this operation on a closed dataset",
         "ADOQueryTemp: Cannot perform this operation on a closed dataset."},
    };
    for (const auto& row : rows)
        EXPECT_EQ(TApplication::WithFullStop(row.text), row.shown) << row.text;
}

TEST(ErrorBox, ShowsTheMessageWithTheTitleAsCaptionAndTheStopIcon)
{
    BoxRecorder recorder;
    Application->ShowErrorBox(Exception("Cannot open clipboard"));
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text, "Cannot open clipboard.");
    EXPECT_EQ(recorder.boxes[0].caption, Application->Title());
    EXPECT_EQ(recorder.boxes[0].flags, TApplication::MB_OK | TApplication::MB_ICONSTOP);
}

TEST(HandlerGuard, AnErrorEscapingAHandlerIsShownAndWhatItChangedStays)
{
    BoxRecorder recorder;
    int rowsWritten = 0;
    QWidget sender;
    Guarded(&sender, [&] {
        ++rowsWritten;
        throw Exception("ADOQueryTemp: Cannot perform this operation on a closed dataset");
        ++rowsWritten;  // never reached: the handler is abandoned here
    });
    EXPECT_EQ(rowsWritten, 1);
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text, "ADOQueryTemp: Cannot perform this operation on a closed dataset.");

    // The tool goes on: the next handler runs normally.
    Guarded(&sender, [&] { ++rowsWritten; });
    EXPECT_EQ(rowsWritten, 2);
    EXPECT_EQ(recorder.boxes.size(), 1u);
}

TEST(HandlerGuard, TheSilentAbortShowsNothing)
{
    BoxRecorder recorder;
    Guarded(nullptr, [] { throw EAbort(); });
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST(HandlerGuard, AForeignObjectGetsTheGenericReport)
{
    BoxRecorder recorder;
    Guarded(nullptr, [] { throw std::runtime_error("ignored"); });
    Guarded(nullptr, [] { throw 42; });
    ASSERT_EQ(recorder.boxes.size(), 2u);
    EXPECT_EQ(recorder.boxes[0].caption, "Application Error");
    EXPECT_EQ(recorder.boxes[0].flags, TApplication::MB_OK | TApplication::MB_ICONSTOP | TApplication::MB_TASKMODAL);
    EXPECT_EQ(recorder.boxes[0].text.rfind("Exception std::runtime_error in module ", 0), 0u) << recorder.boxes[0].text;
    EXPECT_EQ(recorder.boxes[1].text.rfind("Exception int in module ", 0), 0u) << recorder.boxes[1].text;
}

TEST(HandlerGuard, AnErrorThrownFromAnEventHandlerIsCaughtByTheLastLineOfDefence)
{
    BoxRecorder recorder;
    struct Throwing : QObject {
        bool event(QEvent*) override { throw Exception("from an event"); }
    } receiver;
    QEvent event(QEvent::User);
    QApplication::sendEvent(&receiver, &event);
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text, "from an event.");
}

TEST(GenericReport, FollowsTheReportFormat)
{
    EXPECT_EQ(TApplication::GenericReportText("EFoo", "vantelo", ""),
              "Exception EFoo in module vantelo at 00000000.\r\n\r\n");
    EXPECT_EQ(TApplication::GenericReportText("EFoo", "vantelo", "Bad thing"),
              "Exception EFoo in module vantelo at 00000000.\r\nBad thing.\r\n");
    EXPECT_EQ(TApplication::GenericReportText("EFoo", "vantelo", "Bad thing."),
              "Exception EFoo in module vantelo at 00000000.\r\nBad thing.\r\n");
}

namespace {

std::vector<std::string> destroyedOrder;

struct RecordingForm : QWidget {
    RecordingForm() { setObjectName("RecordingForm"); }
    ~RecordingForm() override { destroyedOrder.push_back("form"); }
};
struct SecondForm : QWidget {
    ~SecondForm() override { destroyedOrder.push_back("second form"); }
};
struct RecordingModule : TComponent {
    RecordingModule() : TComponent(nullptr, "RecordingModule") { Create<TComponent>(this, "Inner"); }
    ~RecordingModule() override { destroyedOrder.push_back("module"); }
};
struct FailingModule : TComponent {
    FailingModule() : TComponent(nullptr, "FailingModule") { throw Exception("cannot load"); }
};

}  // namespace

TEST(StartUp, AnErrorWhileModulesAreCreatedIsReportedAndEndsWithExitCodeOne)
{
    BoxRecorder recorder;
    bool secondCreated = false;
    const int code = RunTool(*Application, [&] {
        throw Exception("Cannot load the main window");
        secondCreated = true;
    });
    EXPECT_EQ(code, 1);
    EXPECT_FALSE(secondCreated);
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].caption, "Application Error");
    EXPECT_NE(recorder.boxes[0].text.find("Exception Exception in module "), std::string::npos);
    EXPECT_NE(recorder.boxes[0].text.find("\r\nCannot load the main window.\r\n"), std::string::npos)
        << recorder.boxes[0].text;
    EXPECT_FALSE(Application->Running());
}

// Runs last among these tests: it shuts the application object's modules down.
TEST(Modules, FirstFormIsMainAndShutdownDestroysLastCreatedFirst)
{
    RecordingForm* form = nullptr;
    SecondForm* second = nullptr;
    RecordingModule* module = nullptr;
    TComponent* bound = nullptr;
    // A reference made before the module exists is bound when it arrives.
    TComponent::RequestReference("RecordingModule", "Inner", [&](TComponent* c) { bound = c; });

    Application->CreateModule(form);
    form->setWindowTitle(QStringLiteral("caption"));
    Application->CreateModule(module);
    Application->CreateModule(second);
    EXPECT_EQ(Application->MainForm(), form);
    EXPECT_FALSE(form->isVisible());
    // The taskbar reads the main form's icon name: the title, while the
    // caption stays the form's own. A later form keeps its own label.
    EXPECT_EQ(form->windowIconText().toStdString(), Application->Title());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("caption"));
    EXPECT_TRUE(second->windowIconText().isEmpty());
    ASSERT_NE(bound, nullptr);
    EXPECT_EQ(bound->Name(), "Inner");

    FailingModule* failing = reinterpret_cast<FailingModule*>(1);
    EXPECT_THROW(Application->CreateModule(failing), Exception);
    EXPECT_EQ(failing, nullptr);

    Application->ShutdownApplication();
    EXPECT_EQ(destroyedOrder, (std::vector<std::string>{"second form", "module", "form"}));
}

TEST(ToolkitTexts, FollowTheLocaleInContextMenusAndStandardButtons)
{
    auto texts = [] {
        QLineEdit edit;
        std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QStringList out;
        for (QAction* action : menu->actions())
            if (!action->isSeparator())
                out << action->text();
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        out << buttons.button(QDialogButtonBox::Ok)->text() << buttons.button(QDialogButtonBox::Cancel)->text();
        return out;
    };
    ASSERT_TRUE(Application->LoadToolkitTexts(QLocale(QLocale::Chinese, QLocale::China)));
    EXPECT_EQ(texts(), (QStringList{"撤消(&U)\tCtrl+Z", "重做(&R)\tCtrl+Y", "剪切(&T)\tCtrl+X", "复制(&C)\tCtrl+C",
                                    "粘贴(&P)\tCtrl+V", "删除", "全选\tCtrl+A", "确定", "取消"}));
    // No catalogue for the C locale: the toolkit's English again.
    EXPECT_FALSE(Application->LoadToolkitTexts(QLocale::c()));
    EXPECT_EQ(texts(), (QStringList{"&Undo\tCtrl+Z", "&Redo\tCtrl+Y", "Cu&t\tCtrl+X", "&Copy\tCtrl+C",
                                    "&Paste\tCtrl+V", "Delete", "Select All\tCtrl+A", "OK", "Cancel"}));
}

TEST(ShowFormModal, RefusesAFormThatIsAlreadyVisibleAndReturnsTheResultOfAnother)
{
    TModalForm visible;
    visible.show();
    try {
        Application->ShowFormModal(visible);
        FAIL() << "no error";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), "Cannot make a visible window modal");
    }
    visible.hide();

    TModalForm form;
    QTimer::singleShot(0, &form, [&] { form.SetModalResult(TModalForm::mrOk); });
    EXPECT_EQ(Application->ShowFormModal(form), 1);
    EXPECT_EQ(Application->ModalLevel(), 0);

    // The close box ends the form with 2.
    TModalForm closed;
    QTimer::singleShot(0, &closed, [&] { closed.close(); });
    EXPECT_EQ(Application->ShowFormModal(closed), 2);
}
