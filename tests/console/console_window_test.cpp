// The console window under the offscreen platform, driven by real mouse input through the
// window system: every field, button and the list takes the click aimed at its centre.

#include "console/console_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <tuple>

#include "console_fixture.h"

namespace {

// clang-format off
TEST_F(ConsoleCommandsTest, EveryFieldButtonAndTheListOfTheWindowTakesTheClickAimedAtItsCentre) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "test", *argv[] = {name, nullptr};
    QApplication app(argc, argv);
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

// clang-format on

}  // namespace
