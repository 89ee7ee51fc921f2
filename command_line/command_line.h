#pragma once

#include "bridge_options.h"
#include "exit_codes.h"
#include "option_table.h"
#include "port_resolver.h"
#include "relay_rules.h"
#include "schedule_entry.h"
#include "web_options.h"
#include "window_request.h"

#include <QString>
#include <QStringList>

namespace relais {

// The exit code for a serial error number.
int exitCodeFor(int errorNumber);

// What the arguments ask for.
struct Invocation {
    enum class Action {
        Window,
        Help,
        Version,
        ListPorts,
        Send,
        Hold,
        SendToWindow, // --relays or --pulse without --port
        PulseOnce,    // --pulse with --port: on, wait, off, close
        ForgetMqtt,
        WebStore,        // --set-web-password, the tokens, --web-fingerprint
        SchedulePreview, // --schedule-preview [--from DATE] [--days N]
        Error
    };
    Action action = Action::Window;
    PortSpec port;
    quint16 mask = 0;
    // --pulse: the relay and the length (0: the relay's own).
    bool patternGiven = false; // --relays or --mask
    bool logChanges = false;   // the window writes who switched what
    int pulseRelay = 0;
    qint64 pulseMs = 0;
    WindowRequest windowRequest; // for SendToWindow
    QString text;                // the help text, or the one-line error
    // The broker to join (window or --hold), from the command line or the
    // settings file; credentials are read from their file when it runs.
    bool mqtt = false;
    mqtt::BridgeOptions mqttOptions;
    QString mqttCredentialsFile;
    // The web panel (window or --hold), and the login store's commands.
    bool web = false;
    web::PanelOptions webOptions;
    web::StoreCommand webCommand;
    // The relays' names, lengths, limits and groups from the settings file.
    RelayRules rules;
    // The schedules from the same file; --schedule-preview's first day and days.
    Schedules schedules;
    QDate previewFrom;
    int previewDays = 7;
};

// Parses the program's arguments (the program name first). Needs a
// QCoreApplication for the help and version texts.
Invocation parseCommandLine(const QStringList& arguments);

// "3,16" or "-" (all off) as a mask, relays by number or by name; nullopt
// for anything else.
std::optional<quint16> parseRelayList(const QString& text, const RelayRules& rules = {});

} // namespace relais
