#include "QtTestMain.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

// A GUI application, as the running Snipjar is once it has its panel: the paste test checks the
// ordering against Qt's own X connection.
SNIPJAR_GTEST_MAIN_WITH(QGuiApplication)
