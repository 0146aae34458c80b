// One QApplication for every test of the measurement aids' windows; settings go to a private folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <memory>

namespace {

class MeasureGuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        config_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", config_->path().toLocal8Bit());
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override {
        application_.reset();
        config_.reset();
    }

private:
    int argc_ = 1;
    char name_[24] = "measure_gui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QTemporaryDir> config_;
    std::unique_ptr<QApplication> application_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MeasureGuiEnvironment);

} // namespace
