#pragma once
// The console window: the settings fields, buttons and status fields at their fixed pixel
// positions, a view of the ConsoleModel.

#include <QMainWindow>

#include <array>
#include <functional>

#include "console/console_commands.h"

class QLineEdit;
class QLabel;
class QListWidget;
class QPushButton;
class QWidget;

class ConsoleWindow final : public QMainWindow {
public:
    static constexpr const char* kTitle = "Ember Realms Server";
    // The menu's command ids.
    static constexpr int kCommandExit = 40001, kCommandStartStop = 40002, kCommandInfo = 40004,
                         kCommandKick = 40005;

    // `onClose` runs when the window is closed, before it goes away: the shutdown path.
    ConsoleWindow(ConsoleCommands& commands, std::function<void()> onClose);
    ~ConsoleWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenu();
    // What the menu item or accelerator with this id does.
    void RunCommand(int id);
    void BuildControls(QWidget* panel);
    void Show(ConsoleModel::Change change, ConsoleField field);
    void ShowField(ConsoleField field);

    ConsoleCommands& commands_;
    std::function<void()> onClose_;
    std::array<QWidget*, kConsoleFieldCount> fields_{};
    QPushButton* startButton_ = nullptr;
    QListWidget* playerList_ = nullptr;
};

// Conversions between the server's 8-bit Windows-1252 texts and Qt's strings.
QString ToQString(std::string_view text);
std::string FromQString(const QString& text);
