#include "relay_window.h"

#include "texts.h"
#include "window_accessibility.h"
#include "window_layout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QPixmap>
#include <QTimer>

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
    : QWidget(parent), core_(new RelayCore(resolver, this)) {
    initResources();
    setObjectName(kWindowName);
    setWindowTitle(texts::kWindowTitle);
    QIcon icon;
    icon.addFile(QStringLiteral(":/relaiskarte/icon-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/relaiskarte/icon-32.png"), QSize(32, 32));
    setWindowIcon(icon);
    // The layout is fixed: the window neither resizes nor offers to maximize.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    installWindowAccessibility();
    setGeometry(twipsToPixels(kWindowLeft), twipsToPixels(kWindowTop), twipsToPixels(kWindowWidth),
                twipsToPixels(kWindowHeight));
    setFixedSize(twipsToPixels(kWindowWidth), twipsToPixels(kWindowHeight));
    core_->serial().setObjectName(kSerialName);
    core_->tickTimer().setObjectName(kTimerName);

    createControls(resolver);

    maskCaption_ = std::make_unique<LabelCaption>(*maskLabel_);
    lengthCaption_ = std::make_unique<LabelCaption>(*lengthLabel_);
    boxes_ = std::make_unique<BoxMessages>(*this);
    RelayCore::Views views;
    views.relays = relayButtons_;
    views.startStop = startStopButton_;
    views.ports = portList_;
    views.messages = messages != nullptr ? messages : boxes_.get();
    messages_ = views.messages;
    views.maskCaption = maskCaption_.get();
    views.lengthCaption = lengthCaption_.get();
    core_->attach(views);
    wireEvents();
}

void RelayWindow::setRules(const RelayRules& rules) {
    core_->setRules(rules);
    if (!rules.any()) {
        return; // no names, no pulses: the buttons as they always were
    }
    auto* buttonRules = new RelayButtonRules(*core_, *messages_, this);
    for (int k = 1; k <= kRelayCount; ++k) {
        buttonRules->attach(relayButton(k), k);
    }
}

RelayWindow::~RelayWindow() {
    delete core_; // first: its last words may still reach the watchers and the views
}

void RelayWindow::createControls(const PortResolver& resolver) {
    QWidget* frame = nullptr;
    std::vector<std::pair<int, QWidget*>> tabOrder;

    for (const ControlSpec& control : windowControls()) {
        QWidget* parent = control.role == ControlRole::Relay ? frame : this;
        QWidget* w = nullptr;
        switch (control.role) {
        case ControlRole::Logo: {
            auto* box = new LogoBox(parent);
            box->setAccessibleName(texts::kLogoName);
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
            w->setAccessibleName(texts::kFrameName); // the title's arrow reads badly
            break;
        case ControlRole::Relay: {
            auto* button = new GraphicalButton(kGreen, texts::kRelayOn, texts::kRelayOff, parent);
            relayButtons_[control.relay - 1] = button;
            w = button;
            break;
        }
        case ControlRole::StartStop:
            w = startStopButton_ =
                new GraphicalButton(kRed, texts::kLinkRunning, texts::kLinkStopped, parent);
            break;
        case ControlRole::Quit:
            w = quitButton_ = new FocusButton(parent);
            break;
        case ControlRole::ResendButton:
            // Hidden for good; disabled too, so that no assistive technology
            // can press it and send a frame.
            w = resendButton_ = new FocusButton(parent);
            w->setEnabled(false);
            break;
        case ControlRole::PortList:
            // Its tooltips are filled when the list opens: asking the system for
            // its ports takes longer than the rest of the start-up.
            w = portList_ = new PortComboBox(resolver, parent);
            {
                // Qt names a combo box by its text here; assistive technology
                // takes the name of a labelling buddy before that. Unseen: the
                // window shows no label there.
                auto* name = new QLabel(texts::kPortListName, parent);
                name->setObjectName(QStringLiteral("PortListName"));
                name->setBuddy(w);
                name->hide();
            }
            break;
        case ControlRole::MaskLabel:
            w = maskLabel_ = new QLabel(control.text, parent);
            // A fixed name: a label without one tells assistive technology
            // of every new text, and this one gets one every tick.
            w->setAccessibleName(control.name);
            break;
        case ControlRole::LengthLabel:
            w = lengthLabel_ = new QLabel(control.text, parent);
            w->setAccessibleName(control.name);
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

    announcer_ = new Announcer(this);

    std::sort(tabOrder.begin(), tabOrder.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 1; i < tabOrder.size(); ++i) {
        setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);
    }
    quitButton_->setFocus();
}

void RelayWindow::wireEvents() {
    // (Not a QButtonGroup: Tab would leave a group of checkable buttons
    // after its first one.)
    for (int k = 1; k <= kRelayCount; ++k) {
        connect(relayButton(k), &QPushButton::clicked, this, [this, k] { relayClicked(k); });
        connect(relayButton(k), &GraphicalButton::backColorChanged, core_, &RelayCore::viewChanged);
        relayButton(k)->installEventFilter(this);
    }
    startStopButton_->installEventFilter(this);
    core_->watch(this, [this](const RelayChange& change) { scheduleAnnouncement(change); });
    connect(startStopButton_, &QPushButton::clicked, this, &RelayWindow::startStopClicked);
    connect(quitButton_, &QPushButton::clicked, this, &QWidget::close);
    connect(resendButton_, &QPushButton::clicked, this, &RelayWindow::resendLastFrame);
    connect(startStopButton_, &GraphicalButton::backColorChanged, core_, &RelayCore::viewChanged);
}

void RelayWindow::scheduleAnnouncement(const RelayChange& change) {
    using Kind = ChangeSource::Kind;
    const Kind cause = change.source.kind;
    if ((cause == Kind::PulseEnd || cause == Kind::MaxOn || cause == Kind::Interlock ||
         cause == Kind::Schedule) &&
        change.flipped != 0 && QApplication::activeModalWidget() == nullptr) {
        // A rule switched it: said with its cause, "Relais 3 (Pumpe) ausgeschaltet: Höchstdauer
        // erreicht".
        const int relay = qCountTrailingZeroBits(change.flipped) + 1;
        const bool on = change.state.pattern & change.flipped;
        announcer_->announce(QStringLiteral("%1 %2: %3")
                                 .arg(rules().label(relay), on ? texts::kRelayOn : texts::kRelayOff,
                                      change.source.text()));
        told_ = change.state;
        return;
    }
    unannouncedRelays_ ^= change.flipped;
    unannouncedLink_ ^= change.linkChanged;
    told_ = change.state;
    if (!announcementPending_) {
        announcementPending_ = true;
        QTimer::singleShot(0, this, &RelayWindow::announceChanges);
    }
}

void RelayWindow::announceChanges() {
    announcementPending_ = false;
    QList<int> on;
    QList<int> off;
    const quint16 relays = told_.pattern;
    for (int k = 1; k <= kRelayCount; ++k) {
        if (unannouncedRelays_ & relayWeight(k)) {
            (relays & relayWeight(k) ? on : off) << k;
        }
    }
    const std::optional<bool> link =
        unannouncedLink_ ? std::optional<bool>(told_.running) : std::nullopt;
    unannouncedRelays_ = 0;
    unannouncedLink_ = false;
    // A message box in front speaks for itself.
    if (QApplication::activeModalWidget() == nullptr) {
        const QString text = changeAnnouncement(on, off, link);
        if (!text.isEmpty()) {
            announcer_->announce(text);
        }
    }
}

bool RelayWindow::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        byKeyboard_ = true;
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        byKeyboard_ = false;
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void RelayWindow::keyPressEvent(QKeyEvent* event) {
    // Return and Enter press the focused button as Space does; the buttons
    // pass them on because none of them is a default button.
    auto* button = qobject_cast<QAbstractButton*>(focusWidget());
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && button != nullptr &&
        button->isEnabled() && !event->isAutoRepeat()) {
        button->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void RelayWindow::closeEvent(QCloseEvent* event) {
    // "Beenden", the title bar, the window manager: all end here, once.
    if (!closed_) {
        closed_ = true;
        core_
            ->closePortOnExit(); // the timer goes with the window: no tick after the port is closed
    }
    event->accept();
}

} // namespace relais
