#include "ui/restrictsizing.h"

#include <QCursor>

namespace RestrictSizing {

int GetCursorY() { return QCursor::pos().y(); }

} // namespace RestrictSizing
