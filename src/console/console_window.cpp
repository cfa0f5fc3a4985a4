#include "console/console_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "base/code_page.h"
#include "console/player_info_dialog.h"

QString ToQString(std::string_view text) {
    const std::u16string utf16 = Cp1252ToUtf16(text);
    return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
}

std::string FromQString(const QString& text) {
    return Utf16ToCp1252(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                             static_cast<std::size_t>(text.size())));
}

namespace {

// The server's icon, drawn rather than shipped: an ember, a flame over a glowing coal.
QIcon EmberIcon() {
    QIcon icon;
    for (int size : {16, 32, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 64.0, size / 64.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(120, 30, 10));
        painter.drawEllipse(QRectF(10, 38, 44, 22));
        QPainterPath flame(QPointF(32, 4));
        flame.cubicTo(44, 22, 54, 34, 44, 48);
        flame.cubicTo(38, 56, 26, 56, 20, 48);
        flame.cubicTo(10, 34, 24, 24, 32, 4);
        painter.setBrush(QColor(240, 110, 20));
        painter.drawPath(flame);
        painter.setBrush(QColor(255, 210, 80));
        painter.drawEllipse(QRectF(25, 34, 14, 16));
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

ConsoleWindow::ConsoleWindow(ConsoleCommands& commands, std::function<void()> onClose)
    : commands_(commands), onClose_(std::move(onClose)) {
    setWindowTitle(kTitle);
    setWindowIcon(EmberIcon());
    resize(660, 557);
    BuildMenu();
    auto* panel = new QWidget(this);
    setCentralWidget(panel);
    BuildControls(panel);
    commands_.model().SetObserver(
        [this](ConsoleModel::Change change, ConsoleField field) { Show(change, field); });
}

ConsoleWindow::~ConsoleWindow() {
    qApp->removeEventFilter(this);
    commands_.model().SetObserver(nullptr);
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
    if (onClose_) {
        auto onClose = std::move(onClose_);
        onClose_ = nullptr;
        onClose();
    }
    event->accept();
}

void ConsoleWindow::BuildMenu() {
    // The text after the tab is the shortcut shown beside the item; the keys themselves are
    // the accelerators of eventFilter (Ctrl+X, shown for Exit, is not one of them).
    const auto add = [this](QMenu* menu, const char* text, int id) {
        QAction* action = menu->addAction(text, this, [this, id] { RunCommand(id); });
        action->setData(id);
    };
    add(menuBar()->addMenu("&File"), "&Exit\tCtrl+X", kCommandExit);
    add(menuBar()->addMenu("Ser&ver"), "&Start/Stop Server\tCtrl+S", kCommandStartStop);
    QMenu* player = menuBar()->addMenu("&Player");
    add(player, "&Info\tCtrl+I", kCommandInfo);
    add(player, "&Kick\tCtrl+K", kCommandKick);
    qApp->installEventFilter(this);
}

void ConsoleWindow::RunCommand(int id) {
    switch (id) {
        case kCommandExit:
            commands_.Exit();
            return;
        case kCommandStartStop:
            commands_.Press(ConsoleButton::Start);
            break;
        case kCommandInfo:
            if (const std::optional<DPNID> player =
                    commands_.PlayerAtLine(playerList_->currentRow())) {
                PlayerInfoDialog dialog(commands_, *player);
                dialog.exec();
            }
            break;
    }
    // Like every other command but Exit, the menu's commands refresh the player count.
    commands_.RefreshPlayerCount();
}

bool ConsoleWindow::eventFilter(QObject* watched, QEvent* event) {
    // The accelerators work anywhere in the console, edit fields included, and not while a
    // modal dialog is open.
    if (event->type() != QEvent::KeyPress || QApplication::activeModalWidget() != nullptr ||
        QApplication::activeWindow() != this) {
        return QMainWindow::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers =
        key->modifiers() &
        (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    int id = 0;
    if (modifiers == Qt::NoModifier && key->key() == Qt::Key_X) {
        id = kCommandExit;
    } else if (modifiers == Qt::ControlModifier) {
        id = key->key() == Qt::Key_S   ? kCommandStartStop
             : key->key() == Qt::Key_I ? kCommandInfo
             : key->key() == Qt::Key_K ? kCommandKick
                                       : 0;
    }
    if (id == 0 || key->isAutoRepeat()) {
        return id != 0 || QMainWindow::eventFilter(watched, event);
    }
    RunCommand(id);
    return true;
}

void ConsoleWindow::BuildControls(QWidget* panel) {
    ConsoleModel& model = commands_.model();
    auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this);
    for (const ControlSpec& control : ConsoleControls()) {
        QWidget* widget = nullptr;
        switch (control.kind) {
            case ControlKind::Frame: {
                auto* frame = new QFrame(panel);
                frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
                // A frame is made after the controls it surrounds, so it lies on top of them:
                // it must let every click through to what it frames, as an etched frame does.
                frame->setAttribute(Qt::WA_TransparentForMouseEvents);
                widget = frame;
                break;
            }
            case ControlKind::Label:
                widget = new QLabel(control.text, panel);
                break;
            case ControlKind::Status:
                widget = new QLabel(panel);
                fields_[static_cast<std::size_t>(control.field)] = widget;
                break;
            case ControlKind::Edit:
            case ControlKind::DigitsEdit: {
                auto* edit = new QLineEdit(panel);
                if (control.kind == ControlKind::DigitsEdit) {
                    edit->setValidator(digits);
                }
                const ConsoleField field = control.field;
                connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& text) {
                    commands_.model().SetText(field, FromQString(text));
                });
                fields_[static_cast<std::size_t>(control.field)] = edit;
                widget = edit;
                break;
            }
            case ControlKind::Button: {
                auto* button = new QPushButton(control.text, panel);
                button->setDefault(true);
                const ConsoleButton which = control.button;
                connect(button, &QPushButton::clicked, this,
                        [this, which] { commands_.Press(which); });
                if (which == ConsoleButton::Start) {
                    startButton_ = button;
                }
                widget = button;
                break;
            }
            case ControlKind::PlayerList:
                playerList_ = new QListWidget(panel);
                widget = playerList_;
                break;
        }
        widget->setGeometry(control.x, control.y, control.width, control.height);
    }
    for (std::size_t i = 0; i < kConsoleFieldCount; ++i) {
        ShowField(static_cast<ConsoleField>(i));
    }
    startButton_->setText(ToQString(model.StartButtonText()));
    Show(ConsoleModel::Change::PlayerList, ConsoleField::PlayersInGame);
}

void ConsoleWindow::Show(ConsoleModel::Change change, ConsoleField field) {
    const ConsoleModel& model = commands_.model();
    switch (change) {
        case ConsoleModel::Change::Field:
        case ConsoleModel::Change::Enabled:
            ShowField(field);
            break;
        case ConsoleModel::Change::StartButton:
            startButton_->setText(ToQString(model.StartButtonText()));
            break;
        case ConsoleModel::Change::PlayerList:
            playerList_->clear();
            for (const std::string& line : model.PlayerLines()) {
                playerList_->addItem(ToQString(line));
            }
            break;
    }
}

void ConsoleWindow::ShowField(ConsoleField field) {
    const ConsoleModel& model = commands_.model();
    QWidget* widget = fields_[static_cast<std::size_t>(field)];
    const QString text = ToQString(model.Text(field));
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        if (edit->text() != text) {
            edit->setText(text);
        }
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text);
    }
    widget->setEnabled(model.Enabled(field));
}
