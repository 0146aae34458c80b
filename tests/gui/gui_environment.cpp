// One QApplication for every GUI test, made before the first test runs. Settings and crash journals go to a
// private folder so the tests never touch the user's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <memory>

namespace {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        config_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", config_->path().toLocal8Bit());
        // Crash journals too: a journal left by a test must not be offered to the user, nor theirs to a test.
        qputenv("XDG_STATE_HOME", (config_->path() + QStringLiteral("/state")).toLocal8Bit());
        application_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setApplicationName(QStringLiteral("Calvora"));
        QApplication::setApplicationVersion(QStringLiteral("2.1.0"));
    }
    void TearDown() override {
        application_.reset();
        config_.reset();
    }

private:
    int argc_ = 1;
    char name_[16] = "gui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QTemporaryDir> config_;
    std::unique_ptr<QApplication> application_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

} // namespace
