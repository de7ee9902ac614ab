#include "QtTestMain.h"

#include <QApplication>
#include <gtest/gtest.h>

// Widgets: the tray menu is filled in-process.
SNIPJAR_GTEST_MAIN_WITH(QApplication)
