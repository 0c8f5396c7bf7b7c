#pragma once
// A settings check box: it can show the greyed state that stats.dat may
// hold, but a click only ever switches between ticked and not ticked.

#include <QCheckBox>

class RuleCheckBox final : public QCheckBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RuleCheckBox)

public:
    explicit RuleCheckBox(QWidget *parent = nullptr);

protected:
    void nextCheckState() override;
};
