#include "QtTestMain.h"

#include <QApplication>
#include <gtest/gtest.h>

// A widgets application: the shell tests run the application's own objects in process.
SNIPJAR_GTEST_MAIN_WITH(QApplication)
