#include "config/widgets/modules_settings.h"

#include "config/widgets/configwindow.h"

#include <QComboBox>
#include <QLineEdit>

void modules_settings(ConfigWindow &form)
{
    QComboBox *minutes = form.combominutes();
    if (minutes->findText(QStringLiteral("5"), Qt::MatchExactly) >= 0)
        return;
    // Adding items must not replace what the user typed or the file said.
    const QString text = minutes->currentText();
    for (int v = 5; v < 60; v += 5)
        minutes->addItem(QString::number(v));
    minutes->setEditText(text);
}
