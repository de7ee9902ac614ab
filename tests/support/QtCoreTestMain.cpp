#include "QtTestMain.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

// The main of every test executable that brings none of its own: the linker takes this object from
// the support library only when nothing else defines main.
SNIPJAR_GTEST_MAIN_WITH(QCoreApplication)
