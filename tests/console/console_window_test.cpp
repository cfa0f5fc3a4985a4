// The console window under the offscreen platform, driven by real mouse and key input: every
// control takes the click aimed at it; the menu, the accelerators and the Info on Player dialog.

#include "console/console_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <tuple>

#include "console_fixture.h"

namespace {

// One application for the whole program, ended before the program's static objects are.
struct QtApplication : ::testing::Environment {
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app.reset(); }
    int argc = 1;
    char name[5] = "test", *argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
};
const auto* const kQtApplication = ::testing::AddGlobalTestEnvironment(new QtApplication);

// clang-format off
TEST_F(ConsoleCommandsTest, EveryFieldButtonAndTheListOfTheWindowTakesTheClickAimedAtItsCentre) {
    commands.Initialise("Keep", 0);
    ConsoleWindow window(commands, nullptr);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (int i = 0; i < 10; ++i)
        model.AddPlayerLine("player " + std::to_string(i));
    model.SetText(ConsoleField::UpdateRate, "77"), model.SetText(ConsoleField::NewRainVolume, "30");
    QWidget* panel = window.centralWidget();
    for (const ControlSpec& c : ConsoleControls()) {
        const QRect rect(c.x, c.y, c.width, c.height);
        QWidget* aimed = nullptr;  // the control made for this place
        for (QWidget* child : panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            aimed = aimed ? aimed : child->geometry() == rect ? child : nullptr;
        if (c.kind == ControlKind::Frame || c.kind == ControlKind::Label || c.kind == ControlKind::Status)
            continue;
        ASSERT_NE(aimed, nullptr);
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, panel->mapTo(&window, rect.center()));
        QApplication::processEvents();
        if (auto* list = qobject_cast<QListWidget*>(aimed))  // the line under the centre
            EXPECT_EQ(list->currentRow(), list->indexAt(list->viewport()->mapFrom(panel, rect.center())).row());
        else if (c.kind != ControlKind::Button)
            EXPECT_EQ(QApplication::focusWidget(), aimed);
        else  // each button's command ran
            EXPECT_EQ(std::tuple(toggles, rates.updateRate.load(), weather.targetVolume),
                      std::tuple(1, c.button == ConsoleButton::Start ? 50.0f : 77.0f, c.button == ConsoleButton::RainApply ? 30 : 0));
    }
}

TEST_F(ConsoleCommandsTest, TheMenuAndTheAcceleratorsWorkAnywhereInTheWindow) {
    ConsoleWindow window(commands, nullptr);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QMenuBar* bar = window.menuBar();
    QStringList menus;
    for (QAction* menu : bar->actions())
        for (QAction* item : menu->menu()->actions())
            menus << menu->text() + "|" + item->text() + "|" + item->data().toString();
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_EQ(menus.join(" "), "&File|&Exit\tCtrl+X|40001 Ser&ver|&Start/Stop Server\tCtrl+S|40002 &Player|&Info\tCtrl+I|40004 &Player|&Kick\tCtrl+K|40005");
    auto* edit = qobject_cast<QLineEdit*>(window.centralWidget()->childAt(15, 35));  // Session Name
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    players = 2;
    QTest::keyClick(edit, Qt::Key_S, Qt::ControlModifier), QTest::keyClick(edit, Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_K, Qt::ControlModifier), QTest::keyClick(edit, Qt::Key_X, Qt::ShiftModifier);
    QTest::keyClick(edit, Qt::Key_I, Qt::ControlModifier);  // no line selected: nothing opens
    EXPECT_EQ(std::tuple(toggles, closes, model.Text(ConsoleField::PlayersInGame)), std::tuple(2, 0, "2"));
    QTest::keyClick(edit, Qt::Key_X);  // bare X, even in a field: Exit
    EXPECT_EQ(std::tuple(closes, edit->text().toStdString()), std::tuple(1, "EmberRealms Gamex"));  // Shift+X typed, X not
}
// clang-format on

}  // namespace
