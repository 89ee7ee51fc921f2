#pragma once

#include <QTranslator>

namespace relais {

// The command line parser's own texts ("Usage:", "Options:", the help and
// version lines, its error messages) in German, whether or not Qt's German
// translation is installed. Install it after any other translator so that
// it wins.
class ParserTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    QString translate(const char* context, const char* sourceText,
                      const char* disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override { return false; }
};

} // namespace relais
