// `raidc show --json` over the two-controller example, read back with json-c.
#include "testutil.h"

#include <gtest/gtest.h>
#include <json-c/json.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The value at a path of object keys and array positions, e.g.
// at(root, {"controllers", "0", "name"}); null when the path breaks.
json_object *at(json_object *o, std::initializer_list<const char *> path)
{
    for (const char *step : path) {
        if (!o)
            return nullptr;
        if (json_object_is_type(o, json_type_array))
            o = json_object_array_get_idx(o, std::stoul(step));
        else if (!json_object_object_get_ex(o, step, &o))
            return nullptr;
    }
    return o;
}

std::string text(json_object *o)
{
    return o ? json_object_get_string(o) : "<missing>";
}

TEST(ShowCommand, JsonOverviewOfTheExampleTree)
{
    testutil::installFile(testutil::examplePath("two-controllers.xml"));
    std::string out;
    ASSERT_EQ(testutil::runCommand(testutil::toolPath("raidc") + " show --json", &out), 0);
    json_object *root = json_tokener_parse(out.c_str());
    ASSERT_NE(root, nullptr) << out;

    EXPECT_EQ(json_object_array_length(at(root, {"controllers"})), 2u);
    EXPECT_EQ(text(at(root, {"agent_status"})), "OK");
    json_object *c0 = at(root, {"controllers", "0"});
    EXPECT_EQ(text(at(c0, {"name"})), "RAID Controller 0");
    EXPECT_EQ(text(at(c0, {"family"})), "MR");
    EXPECT_EQ(text(at(c0, {"max_temperatures", "ctrl", "temperature_celsius"})), "73");
    EXPECT_EQ(text(at(c0, {"max_temperatures", "nvme", "temperature_celsius"})), "49");
    EXPECT_EQ(text(at(c0, {"max_temperatures", "ssd", "status"})), "7");
    EXPECT_EQ(at(c0, {"max_temperatures", "ssd", "temperature_celsius"}), nullptr);
    EXPECT_EQ(text(at(c0, {"counts", "physical_drives"})), "12");
    EXPECT_EQ(text(at(c0, {"counts", "encrypted_drives"})), "3");
    EXPECT_EQ(text(at(c0, {"counts", "degraded_logical_drives"})), "3");
    EXPECT_EQ(text(at(c0, {"logical_drives", "2", "status"})), "Partially Degraded");
    EXPECT_EQ(text(at(c0, {"physical_drives", "11", "type"})), "NVMe");
    EXPECT_EQ(text(at(c0, {"physical_drives", "11", "device"})), "21");
    EXPECT_EQ(json_object_array_length(at(c0, {"enclosures", "0", "processors", "0", "fans"})), 4u);
    EXPECT_EQ(text(at(c0, {"enclosures", "0", "processors", "1", "sensors", "1", "temperature_celsius"})), "44");
    EXPECT_EQ(text(at(c0, {"battery", "temperature_celsius"})), "32");
    EXPECT_EQ(text(at(root, {"controllers", "1", "max_temperatures", "proc", "temperature_celsius"})), "42");
    // Nothing answers on the command socket here.
    EXPECT_EQ(text(at(root, {"agent_liveness"})), "down");
    struct stat st;
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &st), 0);
    EXPECT_EQ(text(at(root, {"device_tree", "modified_timestamp"})), std::to_string(st.st_mtime));
    EXPECT_EQ(text(at(root, {"device_tree", "modified"})).size(), 20u); // 2001-09-09T01:46:40Z
    int64_t age = json_object_get_int64(at(root, {"device_tree", "age_seconds"}));
    EXPECT_LE(age, time(nullptr) - st.st_mtime);
    EXPECT_GE(age, time(nullptr) - st.st_mtime - 30) << "the age is taken while show runs";
    json_object_put(root);

    ASSERT_EQ(testutil::runCommand(testutil::toolPath("raidc") + " show", &out), 0);
    EXPECT_NE(out.find("\nAgent: down\nDevice tree: written "), std::string::npos) << out;

    EXPECT_EQ(testutil::runCommand(testutil::toolPath("raidc") + " show first 2>/dev/null"), 2);
    EXPECT_EQ(testutil::runCommand(testutil::toolPath("raidc") + " temps 5 2>/dev/null"), 3);
}

} // namespace
