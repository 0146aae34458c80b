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
        m_config = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit());
        // Crash journals too: a journal left by a test must not be offered to the user, nor theirs to a test.
        qputenv("XDG_STATE_HOME", (m_config->path() + QStringLiteral("/state")).toLocal8Bit());
        m_application = std::make_unique<QApplication>(m_argc, m_argv);
        QApplication::setApplicationName(QStringLiteral("Calvora"));
        QApplication::setApplicationVersion(QStringLiteral("2.1.0"));
    }
    void TearDown() override {
        m_application.reset();
        m_config.reset();
    }

private:
    int m_argc = 1;
    char m_name[16] = "gui_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<QApplication> m_application;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

} // namespace
