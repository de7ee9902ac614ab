#include "QtTestMain.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

SNIPJAR_GTEST_MAIN_WITH(QGuiApplication)
