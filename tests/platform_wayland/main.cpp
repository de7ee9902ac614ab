#include "QtTestMain.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

SNIPJAR_GTEST_MAIN_WITH(QCoreApplication)
