#pragma once
// A single-line text box placed in twips.
#include "kit/controls.h"

#include <QLineEdit>

namespace pel::kit {

class TextBox : public Twips<QLineEdit> {
public:
    TextBox(const QString &text, QWidget *parent) : Twips<QLineEdit>(text, parent) {}
    QString Text() const { return text(); }
};

}  // namespace pel::kit
