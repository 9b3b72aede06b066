#include <QApplication>
#include <gmock/gmock.h>

// Every suite runs inside a QApplication on the offscreen platform, so coroutines, timers and widgets
// all have the event loop they expect.
int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleMock(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
