#include "QtTestMain.h"

#include <QApplication>
#include <gtest/gtest.h>

SNIPJAR_GTEST_MAIN_WITH(QApplication)
