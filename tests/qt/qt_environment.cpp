// The suite's one QApplication, under the offscreen platform, with the user's
// configuration folder moved into a temporary directory so profile tests touch nothing
// real. Shared by every test of the Qt layer.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        std::string pattern = (std::filesystem::temp_directory_path() / "uvc-qt-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        configHome_ = pattern;
        setenv("XDG_CONFIG_HOME", configHome_.c_str(), 1);
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }

    void TearDown() override {
        application_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(configHome_, ignored);
    }

private:
    int argc_ = 1;
    char name_[8] = "test_qt";
    char* argv_[2] = {name_, nullptr};
    std::string configHome_;
    std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
