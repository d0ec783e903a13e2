// The dialog against the in-process simulator, pressed through its widgets.
#include <QLabel>
#include <QLineEdit>

#include "platform/hid/virtual_device.h"
#include "sim/simulated_device.h"
#include "tests/qt/dialog_fixture.h"
#include "ui/services/control_ids.h"

namespace {

namespace ids = ui::ids;

class EndToEnd : public qttest::DialogFixture {
protected:
    void Publish() {
        sim::Config config;
        config.vendorId = 0x1209;
        config.productId = 0x5A5B;  // unique to these tests
        std::string error;
        device = sim::SimulatedDevice::Create(std::move(config), error);
        ASSERT_TRUE(device) << error;
        vhid::DeviceInfo info = device->Info();
        info.path = vhid::MakePath("qt");
        publication = vhid::Publish(std::move(info), device);
    }

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

    std::shared_ptr<sim::SimulatedDevice> device;
    std::unique_ptr<vhid::Publication> publication;
};

TEST_F(EndToEnd, OpenDeviceReadAndGetId) {
    Publish();
    device->SetRegister(0xD8000004, 0xCAFE1234);
    Open();
    TypeIds("1209", "5A5B");
    for (int id : {ids::kStatusText, ids::kProgressDone, ids::kProgressTotal}) EXPECT_EQ(Text(id), "Static") << id;

    Click(ids::kOpenDevice);
    EXPECT_FALSE(Control(ids::kOpenDevice)->isEnabled());
    EXPECT_TRUE(Text(ids::kDeviceInfo).contains("0x5A5B", Qt::CaseInsensitive)) << Text(ids::kDeviceInfo).toStdString();
    EXPECT_NE(Text(ids::kStatusText), "Static");
    EXPECT_EQ(Control(ids::kStatusText)->accessibleName(), Text(ids::kStatusText));
    EXPECT_TRUE(Checked(ids::kRadioRegister));
    EXPECT_EQ(Text(ids::kRegAddr), "D8000004");

    Click(ids::kRead);
    EXPECT_EQ(Text(ids::kRegValue), "cafe1234");

    Click(ids::kGetId);
    EXPECT_FALSE(Text(ids::kDeviceName).isEmpty());
    EXPECT_EQ(Control(ids::kDeviceName)->accessibleName(), Text(ids::kDeviceName));
    EXPECT_TRUE(boxes.empty());

    Click(ids::kOk);
    EXPECT_EQ(dialog->result(), 1);
}

TEST_F(EndToEnd, NoDeviceShowsOneBoxAndEndsTheDialog) {
    Open();
    TypeIds("FFFE", "FFFD");  // ids nobody publishes
    Click(ids::kOpenDevice);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "HID Device no found !");
    EXPECT_EQ(boxes[0].owner, ui::BoxOwner::Dialog);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !dialog->isVisible(); }, 5000));
    EXPECT_EQ(dialog->result(), 2);
    EXPECT_EQ(boxes.size(), 1u);
}

}  // namespace
