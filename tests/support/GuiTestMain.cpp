// Entry point of every GUI test executable: the tool's application object
// (which brings up the toolkit offscreen), then GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/TApplication.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    vantelo::TApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
