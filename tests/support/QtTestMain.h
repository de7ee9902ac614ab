#pragma once

// Test executables that need an event loop define their main with this: a QCoreApplication (or
// QGuiApplication) exists for the whole run, and GoogleTest runs inside it.
#define SNIPJAR_GTEST_MAIN_WITH(ApplicationType)                                                             \
    int main(int argc, char** argv) {                                                                        \
        ApplicationType application(argc, argv);                                                             \
        ::testing::InitGoogleTest(&argc, argv);                                                              \
        return RUN_ALL_TESTS();                                                                              \
    }
