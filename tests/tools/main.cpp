#include <gtest/gtest.h>

#include <QGuiApplication>

// QProcess and the image codecs want an application object.
int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
