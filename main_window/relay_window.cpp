#include "relay_window.h"

#include "texts.h"
#include "window_layout.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
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

RelayWindow::RelayWindow(const PortResolver& resolver, MessagePresenter* messages, QWidget* parent)
    : QWidget(parent), serial_(resolver), tickTimer_(this) {
    initResources();
    setObjectName(kWindowName);
    setWindowTitle(texts::kWindowTitle);
    QIcon icon;
    icon.addFile(QStringLiteral(":/relaiskarte/icon-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/relaiskarte/icon-32.png"), QSize(32, 32));
    setWindowIcon(icon);
    // The layout is fixed; the window does not resize.
    setGeometry(twipsToPixels(kWindowLeft), twipsToPixels(kWindowTop), twipsToPixels(kWindowWidth),
                twipsToPixels(kWindowHeight));
    setFixedSize(twipsToPixels(kWindowWidth), twipsToPixels(kWindowHeight));
    serial_.setObjectName(kSerialName);

    tickTimer_.setObjectName(kTimerName);
    tickTimer_.setInterval(kTickInterval);
    tickTimer_.setTimerType(Qt::PreciseTimer); // a coarse timer may stretch 100 ms by 5 %

    createControls(resolver);

    maskCaption_ = std::make_unique<LabelCaption>(*maskLabel_);
    lengthCaption_ = std::make_unique<LabelCaption>(*lengthLabel_);
    timerSwitch_ = std::make_unique<QtTickTimer>(tickTimer_);
    boxes_ = std::make_unique<BoxMessages>(*this);
    panel_ = std::make_unique<RelayPanel>(relayButtons_, *maskCaption_, *lengthCaption_, serial_);
    link_ = std::make_unique<LinkControl>(serial_, *portList_, *timerSwitch_, *startStopButton_,
                                          messages != nullptr ? *messages : *boxes_);
    wireEvents();
}

RelayWindow::~RelayWindow() {
    tickTimer_.stop();
}

void RelayWindow::createControls(const PortResolver& resolver) {
    QWidget* frame = nullptr;
    std::vector<std::pair<int, QWidget*>> tabOrder;

    for (const ControlSpec& control : windowControls()) {
        QWidget* parent = control.role == ControlRole::Relay ? frame : this;
        QWidget* w = nullptr;
        switch (control.role) {
        case ControlRole::Logo: {
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
        case ControlRole::RelayFrame:
            w = frame = new QGroupBox(control.text, parent);
            break;
        case ControlRole::Relay: {
            auto* button = new RelayButton(parent);
            relayButtons_[control.relay - 1] = button;
            w = button;
            break;
        }
        case ControlRole::StartStop:
            w = startStopButton_ = new GraphicalButton(parent);
            break;
        case ControlRole::Quit:
            w = quitButton_ = new QPushButton(parent);
            break;
        case ControlRole::ResendButton:
            w = resendButton_ = new QPushButton(parent);
            break;
        case ControlRole::PortList:
            // Its tooltips are filled when the list opens: asking the system for
            // its ports takes longer than the rest of the start-up.
            w = portList_ = new PortComboBox(resolver, parent);
            break;
        case ControlRole::MaskLabel:
            w = maskLabel_ = new QLabel(control.text, parent);
            break;
        case ControlRole::LengthLabel:
            w = lengthLabel_ = new QLabel(control.text, parent);
            break;
        }
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            button->setText(control.text);
            button->setAutoDefault(false);
        }
        w->setObjectName(control.name);
        w->setGeometry(pixels(control));
        w->setVisible(control.shown);
        if (w->focusPolicy() & Qt::TabFocus) {
            tabOrder.emplace_back(control.tabIndex, w);
        }
    }

    std::sort(tabOrder.begin(), tabOrder.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 1; i < tabOrder.size(); ++i) {
        setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);
    }
    quitButton_->setFocus();
}

void RelayWindow::wireEvents() {
    auto* relays = new QButtonGroup(this);
    relays->setExclusive(false);
    for (int k = 1; k <= kRelayCount; ++k) {
        relays->addButton(static_cast<RelayButton*>(relayButtons_[k - 1]), k);
    }
    connect(relays, &QButtonGroup::idClicked, this, &RelayWindow::relayClicked);
    connect(startStopButton_, &QPushButton::clicked, this, &RelayWindow::startStopClicked);
    connect(quitButton_, &QPushButton::clicked, this, &QWidget::close);
    connect(resendButton_, &QPushButton::clicked, this, &RelayWindow::resendLastFrame);
    connect(&tickTimer_, &QTimer::timeout, this, &RelayWindow::tick);

    for (ColorButton* button : relayButtons_) {
        connect(static_cast<RelayButton*>(button), &GraphicalButton::backColorChanged, this,
                &RelayWindow::stateChanged);
    }
    connect(startStopButton_, &GraphicalButton::backColorChanged, this, &RelayWindow::stateChanged);
    connect(&serial_, &QtSerialControl::lineLost, this, &RelayWindow::stateChanged);
}

void RelayWindow::setRelays(quint16 mask) {
    for (int k = 1; k <= kRelayCount; ++k) {
        panel_->setRelay(k, (mask & relayWeight(k)) != 0);
    }
}

void RelayWindow::startOn(const PortSpec& port) {
    if (isRunning()) {
        return;
    }
    if (port.number > 0) {
        portList_->choose(port.number - 1);
        serial_.setPortNumber(port.number);
    } else {
        portList_->showDevice(port.device);
        serial_.setDevice(port.device);
    }
    link_->start();
}

void RelayWindow::tick() {
    link_->runOnLine([this] { panel_->tick(); });
}

void RelayWindow::resendLastFrame() {
    link_->runOnLine([this] { panel_->resendLastFrame(); });
}

void RelayWindow::closeEvent(QCloseEvent* event) {
    // "Beenden", the title bar, the window manager: all end here, once.
    if (!closed_) {
        closed_ = true;
        link_->closePortOnExit();
        tickTimer_.stop(); // the timer goes with the window: no tick after the port is closed
    }
    event->accept();
}

} // namespace relais
