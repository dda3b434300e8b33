#pragma once
// Qt ends the process with an abort, after three messages, when it cannot open
// its X display. While an XDisplayFailure lives (around the QApplication's
// construction), that failure instead prints `line` alone on stderr and ends the
// process with exit status 1. Qt's own connection is the test: no second
// connection is opened just to ask. Every other message goes where it went before.
#include <QByteArray>

namespace pel::kit {

class XDisplayFailure {
public:
    explicit XDisplayFailure(const QByteArray &line);
    ~XDisplayFailure();
    XDisplayFailure(const XDisplayFailure &) = delete;
    XDisplayFailure &operator=(const XDisplayFailure &) = delete;
};

}  // namespace pel::kit
