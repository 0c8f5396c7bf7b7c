#pragma once
#include <QtGlobal>

#if defined(TARNPOSTCTL_LIBRARY)
#define TARNPOSTCTL_EXPORT Q_DECL_EXPORT
#else
#define TARNPOSTCTL_EXPORT Q_DECL_IMPORT
#endif
