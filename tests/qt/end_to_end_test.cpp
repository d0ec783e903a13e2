// The dialog against the in-process simulator, pressed through its widgets.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>

#include <fstream>

#include "tests/qt/dialog_fixture.h"
#include "tests/support/sim_fixture.h"
#include "ui/services/control_ids.h"

namespace {

namespace ids = ui::ids;

class EndToEnd : public qttest::DialogFixture {
protected:
    void TypeIds(const char* vid, const char* pid) {
        for (auto [id, text] : {std::pair{ids::kVid, vid}, std::pair{ids::kPid, pid}}) {
            auto* field = ControlAs<QLineEdit>(id);
            field->clear();
            QTest::keyClicks(field, text);
            ASSERT_EQ(field->text(), text);
        }
    }

    QString Text(int id) const {
        if (auto* label = ControlAs<QLabel>(id)) return label->text();
        return ControlAs<QLineEdit>(id)->text();
    }
};

// Open and Get ID, then a burn that runs on its worker while the dialog's thread serves
// its updates.
TEST_F(EndToEnd, OpenAndBurnThroughTheWidgets) {
    sim::Config config;
    config.partRow = 34;  // 256 KiB
    testsupport::SimDevice device;
    device.Publish(config, "qt");
    ASSERT_TRUE(device.sim);
    Open();
    TypeIds("1209", "5A5A");
    for (int id : {ids::kStatusText, ids::kProgressDone, ids::kProgressTotal}) EXPECT_EQ(Text(id), "Static") << id;

    Click(ids::kOpenDevice);
    EXPECT_FALSE(Control(ids::kOpenDevice)->isEnabled());
    EXPECT_TRUE(Text(ids::kDeviceInfo).contains("0x5A5A", Qt::CaseInsensitive)) << Text(ids::kDeviceInfo).toStdString();
    EXPECT_NE(Text(ids::kStatusText), "Static");
    EXPECT_EQ(Control(ids::kStatusText)->accessibleName(), Text(ids::kStatusText));
    EXPECT_TRUE(Checked(ids::kRadioRegister));
    Click(ids::kGetId);
    EXPECT_FALSE(Text(ids::kDeviceName).isEmpty());
    EXPECT_EQ(Control(ids::kDeviceName)->accessibleName(), Text(ids::kDeviceName));
    EXPECT_TRUE(boxes.empty());

    QTemporaryDir dir;
    const std::string image = dir.filePath("image.bin").toStdString();
    std::vector<char> bytes(256 * 1024);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 13 + i / 256) & 0xFF);
    std::ofstream(image, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    dialog->Services().SetFilePicker([&image](const ui::OpenFileRequest&, std::string& path) {
        path = image;
        return true;
    });
    Click(ids::kBrowseBurnFile);
    Click(ids::kBurn);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->Logic().IsRunning(); }, 60000));
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, "The entire flash has updated, please replug-in device!");
    EXPECT_EQ(boxes.back().owner, ui::BoxOwner::None);
    const std::vector<std::uint8_t> flash = device.sim->FlashBytes(0, static_cast<std::uint32_t>(bytes.size()));
    EXPECT_TRUE(std::vector<char>(flash.begin(), flash.end()) == bytes);
    auto* bar = ControlAs<QProgressBar>(ids::kProgressBar);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(Text(ids::kProgressDone), Text(ids::kProgressTotal));
    EXPECT_EQ(Text(ids::kStatusText), "Status: Wait");
    EXPECT_TRUE(Control(ids::kGetId)->isEnabled());  // restored after the run

    Click(ids::kOk);
    EXPECT_EQ(dialog->result(), 1);
}

TEST_F(EndToEnd, NoDeviceShowsOneBoxAndEndsTheDialog) {
    Open();
    TypeIds("FFFE", "FFFD");  // ids nobody publishes
    Click(ids::kOpenDevice);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !dialog->isVisible(); }, 5000));
    EXPECT_EQ(boxes.size(), 1u);  // its text and owner are Open Device's own tests' concern
    EXPECT_EQ(dialog->result(), 2);
}

}  // namespace
