#include "parser_texts.h"

#include <cstring>

namespace relais {

namespace {

struct Text {
    const char* english;
    const char* german;
};

// The wording of Qt's own German translation, so that the help reads the
// same wherever it is installed.
constexpr Text kTexts[] = {
    {"Usage: %1", "Aufruf: %1"},
    {"[options]", "[Optionen]"},
    {"Options:", "Optionen:"},
    {"Arguments:", "Argumente:"},
    {"Displays help on commandline options.", "Zeigt Hilfe zu den Kommandozeilenoptionen an."},
    {"Displays help including Qt specific options.",
     "Zeigt Hilfe einschließlich Qt-spezifischer Optionen an."},
    {"Displays version information.", "Zeigt Versionsinformation an."},
    {"Unknown option '%1'.", "Unbekannte Option '%1'."},
    {"Unknown options: %1.", "Unbekannte Optionen: %1."},
    {"Missing value after '%1'.", "Nach '%1' fehlt der Wert."},
    {"Unexpected value after '%1'.", "Unerwarteter Wert nach '%1'."},
};

} // namespace

QString ParserTexts::translate(const char* context, const char* sourceText,
                               const char* /*disambiguation*/, int /*n*/) const {
    if (context == nullptr || sourceText == nullptr ||
        std::strcmp(context, "QCommandLineParser") != 0) {
        return {};
    }
    for (const Text& text : kTexts) {
        if (std::strcmp(sourceText, text.english) == 0) {
            return QString::fromUtf8(text.german);
        }
    }
    return {};
}

} // namespace relais
