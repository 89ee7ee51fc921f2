#pragma once

#include <QHash>
#include <QString>

#include <optional>
#include <vector>

namespace relais {

// Which part of the program an option belongs to: the options of the
// broker and of the web panel need the one that switches it on.
enum class OptionGroup { General, Link, Mqtt, Web, Store };

// One option of the command line, and where the settings file may hold it.
struct OptionSpec {
    enum class Value { Text, Switch, SwitchOff }; // SwitchOff: the setting says the opposite
    QString name;
    QString valueName; // empty for a switch
    QString help;
    OptionGroup group = OptionGroup::General;
    bool onceOnly = false;
    QString settingsKey; // "section/key"; empty where the file has none
    Value value = Value::Text;
    QString preset; // the setting's value when the file has none
};

// Every option, in the order the help lists them.
const std::vector<OptionSpec>& optionTable();
// The option that switches a group on ("mqtt", "web"); empty for the others.
QString groupSwitch(OptionGroup group);

// What a settings file holds, by option name (INI: [link] port, [mqtt] url,
// name, credentials, cafile, discovery_prefix, discovery; [web] listen,
// password_file, cert, key, plain_http). A switch holds "true" or "false"
// as the option would set it.
using StoredSettings = QHash<QString, QString>;
std::optional<StoredSettings> readSettings(const QString& path);
// The settings every option has without a file.
StoredSettings presetSettings();
// The user's settings file, read by the window.
QString userSettingsPath();

} // namespace relais
