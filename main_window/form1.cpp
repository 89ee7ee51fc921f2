#include "form1.h"

#include "form_layout.h"
#include "texts.h"

#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QMap>
#include <QPixmap>

#include <algorithm>

// The images live in this static library; make sure they are registered.
static void initResources() {
    Q_INIT_RESOURCE(resources);
}

namespace relais {

namespace {

QRect pixels(const ControlSpec& c) {
    return QRect(twipsToPixels(c.left), twipsToPixels(c.top), twipsToPixels(c.width),
                 twipsToPixels(c.height));
}

} // namespace

Form1::Form1(const PortResolver& resolver, MessagePresenter* messages, QWidget* parent)
    : QWidget(parent), Comm1(resolver) {
    initResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(texts::kWindowTitle);
    QIcon icon;
    icon.addFile(QStringLiteral(":/relaiskarte/icon-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/relaiskarte/icon-32.png"), QSize(32, 32));
    setWindowIcon(icon);
    // The layout is fixed; the window does not resize.
    setGeometry(twipsToPixels(kFormLeft), twipsToPixels(kFormTop), twipsToPixels(kFormWidth),
                twipsToPixels(kFormHeight));
    setFixedSize(twipsToPixels(kFormWidth), twipsToPixels(kFormHeight));
    Comm1.setObjectName(QStringLiteral("Comm1"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTimerInterval);
    Timer1->setTimerType(Qt::PreciseTimer); // a coarse timer may stretch 100 ms by 5 %

    createControls(resolver);

    label1Caption_ = std::make_unique<LabelCaption>(*Label1);
    label2Caption_ = std::make_unique<LabelCaption>(*Label2);
    timer_ = std::make_unique<QtTickTimer>(*Timer1);
    boxes_ = std::make_unique<BoxMessages>(*this);
    relays_ = std::make_unique<RelayPanel>(relayButtons_, *label1Caption_, *label2Caption_, Comm1);
    link_ = std::make_unique<LinkControl>(Comm1, *Combo1, *timer_, *Command19,
                                          messages != nullptr ? *messages : *boxes_);
    wireEvents();
}

Form1::~Form1() {
    Timer1->stop();
}

void Form1::createControls(const PortResolver& resolver) {
    QMap<QString, QWidget*> widgets;
    widgets.insert(objectName(), this);
    std::vector<std::pair<int, QWidget*>> tabOrder;

    for (const ControlSpec& control : formControls()) {
        QWidget* parent = widgets.value(control.container);
        QWidget* w = nullptr;
        switch (control.kind) {
        case ControlKind::PictureBox: {
            auto* box = new QLabel(parent);
            box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            box->setLineWidth(2);
            box->setAutoFillBackground(true);
            // Unscaled at the top left of the inner area; the box clips it.
            box->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            box->setPixmap(QPixmap(QStringLiteral(":/relaiskarte/logo.gif")));
            box->setFocusPolicy(Qt::StrongFocus);
            w = box;
            break;
        }
        case ControlKind::Frame:
            w = new QGroupBox(control.text, parent);
            break;
        case ControlKind::GraphicalButton: {
            GraphicalButton* b = control.container == QLatin1String("Frame1")
                                     ? new RelayButton(parent)
                                     : new GraphicalButton(parent);
            b->setText(control.text);
            b->setBackColor(kButtonFace);
            w = b;
            break;
        }
        case ControlKind::StandardButton: {
            auto* b = new QPushButton(control.text, parent);
            b->setAutoDefault(false);
            w = b;
            break;
        }
        case ControlKind::ComboBox:
            // Its tooltips are filled when the list opens: asking the system for
            // its ports takes longer than the rest of the start-up.
            w = Combo1 = new PortComboBox(resolver, parent);
            break;
        case ControlKind::Label:
            w = new QLabel(control.text, parent);
            break;
        }
        w->setObjectName(control.name);
        w->setGeometry(pixels(control));
        w->setVisible(control.shown);
        widgets.insert(control.name, w);
        if (w->focusPolicy() & Qt::TabFocus) {
            tabOrder.emplace_back(control.tabIndex, w);
        }
    }

    for (int k = 1; k <= kRelayCount; ++k) {
        relayButtons_[k - 1] = static_cast<RelayButton*>(widgets.value(relayButtonName(k)));
    }
    Command19 = static_cast<GraphicalButton*>(widgets.value(QStringLiteral("Command19")));
    Label1 = static_cast<QLabel*>(widgets.value(QStringLiteral("Label1")));
    Label2 = static_cast<QLabel*>(widgets.value(QStringLiteral("Label2")));

    std::sort(tabOrder.begin(), tabOrder.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 1; i < tabOrder.size(); ++i) {
        setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);
    }
    widgets.value(QStringLiteral("Command1"))->setFocus();
}

void Form1::wireEvents() {
    using Handler = void (Form1::*)();
    static constexpr Handler kRelayHandlers[kRelayCount] = {
        &Form1::Command3_Click,  &Form1::Command4_Click,  &Form1::Command5_Click,
        &Form1::Command6_Click,  &Form1::Command7_Click,  &Form1::Command8_Click,
        &Form1::Command9_Click,  &Form1::Command10_Click, &Form1::Command11_Click,
        &Form1::Command12_Click, &Form1::Command13_Click, &Form1::Command14_Click,
        &Form1::Command15_Click, &Form1::Command16_Click, &Form1::Command17_Click,
        &Form1::Command18_Click};
    const auto onClick = [this](const QString& name, Handler handler) {
        auto* button = findChild<QPushButton*>(name);
        connect(button, &QPushButton::clicked, this, handler);
    };
    onClick(QStringLiteral("Command1"), &Form1::Command1_Click);
    onClick(QStringLiteral("Command2"), &Form1::Command2_Click);
    for (int k = 1; k <= kRelayCount; ++k) {
        onClick(relayButtonName(k), kRelayHandlers[k - 1]);
    }
    onClick(QStringLiteral("Command19"), &Form1::Command19_Click);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
}

void Form1::Timer1_Timer() {
    link_->runOnLine([this] { relays_->Timer1_Timer(); });
}

void Form1::Command2_Click() {
    link_->runOnLine([this] { relays_->Command2_Click(); });
}

void Form1::Form_Unload(bool& Cancel) {
    link_->Form_Unload(Cancel);
}

void Form1::closeEvent(QCloseEvent* event) {
    // "Beenden", the title bar, the window manager: all end here, once.
    if (!unloaded_) {
        unloaded_ = true;
        bool cancel = false;
        Form_Unload(cancel);
        Timer1->stop(); // the timer goes with the window: no tick after the port is closed
    }
    event->accept();
}

} // namespace relais
