#include "hostkit/resource_file.h"

#include <gtest/gtest.h>

namespace vhost {
namespace {

struct BadResource {
  const char* name;
  const char* text;
  const char* expected;  // the first error, from the line number on
};

// Test names say what a case is; gtest need not print its bytes.
void PrintTo(const BadResource& value, std::ostream* out) { *out << value.name; }

class BadResourceTest : public testing::TestWithParam<BadResource> {};

TEST_P(BadResourceTest, IsRefusedWithFileAndLine) {
  ResourceParseResult result = ParseResourceText(GetParam().text, "Vestrel.rsc");
  EXPECT_FALSE(result.ok);
  ASSERT_FALSE(result.errors.empty());
  EXPECT_EQ(result.errors[0].rfind(std::string("Vestrel.rsc:") + GetParam().expected, 0), 0u)
      << result.errors[0];
  EXPECT_TRUE(result.file.dialogs.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Resources, BadResourceTest,
    testing::Values(
        BadResource{"unknown_kind", "dialog 1 \"D\"\n  button 3 \"x\"\nend\n",
                    "2: unknown item 'button'"},
        BadResource{"control_outside_dialog", "edit 3 \"5\"\n", "1: 'edit' outside a dialog"},
        BadResource{"missing_end", "# c\ndialog 21000 \"D\"\n  edit 3 \"5\"\n",
                    "3: dialog 21000 (line 2) has no 'end'"},
        BadResource{"end_without_dialog", "end\n", "1: 'end' without a 'dialog'"},
        BadResource{"nested_dialog", "dialog 1 \"A\"\ndialog 2 \"B\"\nend\n",
                    "2: 'dialog' inside dialog 1"},
        BadResource{"id_not_a_number", "dialog 1 \"D\"\n edit x3 \"5\"\nend\n",
                    "2: the control id must be a decimal integer"},
        BadResource{"id_with_fraction", "dialog 1.5 \"D\"\nend\n",
                    "1: the dialog id must be a decimal integer"},
        BadResource{"id_beyond_32_bits", "dialog 2147483648 \"D\"\nend\n",
                    "1: the dialog id 2147483648 is out of the 32-bit range"},
        BadResource{"id_far_beyond_32_bits",
                    "dialog 1 \"D\"\n edit 99999999999999999999 \"5\"\nend\n", "2: the control id"},
        BadResource{"duplicate_control_id",
                    "dialog 1 \"D\"\n edit 3 \"5\"\n checkbox 3 \"F\"\nend\n",
                    "3: control id 3 is used twice in dialog 1"},
        BadResource{"duplicate_dialog_id", "dialog 1 \"A\"\nend\ndialog 1 \"B\"\nend\n",
                    "3: dialog 1 is defined twice"},
        BadResource{"missing_caption", "dialog 1 \"D\"\n edit 3\nend\n",
                    "2: missing the caption in double quotes"},
        BadResource{"caption_without_quotes", "dialog 1 \"D\"\n edit 3 five\nend\n",
                    "2: expected the caption in double quotes"},
        BadResource{"unterminated_caption", "dialog 1 \"D\"\n edit 3 \"five\nend\n",
                    "2: the caption has no closing double quote"},
        BadResource{"unknown_escape", "dialog 1 \"D\\n\"\nend\n", "1: unknown escape \\n"},
        BadResource{"text_after_caption", "dialog 1 \"D\"\n edit 3 \"5\" 6\nend\n",
                    "2: unexpected text after the item"},
        BadResource{"text_after_end", "dialog 1 \"D\"\nend now\n",
                    "2: unexpected text after the item"},
        BadResource{"missing_title", "dialog 1\nend\n", "1: missing the dialog title"}),
    [](const testing::TestParamInfo<BadResource>& info) { return std::string(info.param.name); });

TEST(ResourceFileTest, NulByteInsideALineIsRefused) {
  ResourceParseResult result =
      ParseResourceText(std::string("dialog 1 \"D\"\ne\0d\n", 17), "r.rsc");
  ASSERT_FALSE(result.ok);
  EXPECT_EQ(result.errors[0], "r.rsc:2: a NUL byte: this is not a text file");
}

TEST(ResourceFileTest, EveryBadLineIsReported) {
  ResourceParseResult result =
      ParseResourceText("dialog 1 \"D\"\n bogus 1 \"x\"\n edit y \"x\"\nend\n", "r.rsc");
  ASSERT_EQ(result.errors.size(), 2u);
  EXPECT_EQ(result.errors[0].rfind("r.rsc:2:", 0), 0u);
  EXPECT_EQ(result.errors[1].rfind("r.rsc:3:", 0), 0u);
}

TEST(ResourceFileTest, ReadsDialogsWithEscapesNegativeIdsCommentsAndCrlf) {
  const char* text =
      "# resources\r\n"
      "\r\n"
      "dialog 21000 \"Vestrel\"\r\n"
      "  label    1 \"Angle \\\"tolerance\\\" \\\\ degrees\"\r\n"
      "\tedit     3 \"5\"\r\n"
      "  checkbox -4 \"Freeze path\"\r\n"
      "  ok       6 \"OK\"\r\n"
      "  cancel   7 \"\"\r\n"
      "end\r\n"
      "dialog -1 \"Other\"\n"
      "end\n";
  ResourceParseResult result = ParseResourceText(text, "r.rsc");
  ASSERT_TRUE(result.ok) << (result.errors.empty() ? "" : result.errors[0]);
  ASSERT_EQ(result.file.dialogs.size(), 2u);
  const DialogTemplate* dialog = result.file.FindDialog(21000);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->title, "Vestrel");
  ASSERT_EQ(dialog->controls.size(), 5u);
  EXPECT_EQ(dialog->controls[0].caption, "Angle \"tolerance\" \\ degrees");
  EXPECT_EQ(dialog->controls[1].kind, ControlKind::kEdit);
  EXPECT_EQ(dialog->controls[1].caption, "5");
  EXPECT_EQ(dialog->controls[2].id, -4);
  EXPECT_EQ(dialog->controls[4].kind, ControlKind::kCancel);
  EXPECT_EQ(dialog->controls[4].caption, "");
  EXPECT_NE(result.file.FindDialog(-1), nullptr);
  EXPECT_EQ(result.file.FindDialog(7), nullptr);
}

TEST(ResourceFileTest, EmptyFileHoldsNoDialogs) {
  ResourceParseResult result = ParseResourceText("", "r.rsc");
  EXPECT_TRUE(result.ok);
  EXPECT_TRUE(result.file.dialogs.empty());
}

TEST(ResourceFileTest, MissingFileIsReported) {
  ResourceParseResult result = LoadResourceFile("/nonexistent/Vestrel.rsc");
  ASSERT_FALSE(result.ok);
  EXPECT_EQ(result.errors[0], "/nonexistent/Vestrel.rsc: no such resource file");
}

#ifdef VHOST_SHIPPED_RESOURCE_FILE
// The resource file that ships with the plug-in must hold what its dialog asks
// for: dialog 21000 with the angle edit and the two switches.
TEST(ResourceFileTest, ShippedResourceFileHoldsThePluginsDialog) {
  ResourceParseResult result = LoadResourceFile(VHOST_SHIPPED_RESOURCE_FILE);
  ASSERT_TRUE(result.ok) << (result.errors.empty() ? "" : result.errors[0]);
  const DialogTemplate* dialog = result.file.FindDialog(21000);
  ASSERT_NE(dialog, nullptr);
  auto kindOf = [&](int32_t id) {
    for (const ControlTemplate& control : dialog->controls) {
      if (control.id == id) return std::string(ControlKindName(control.kind));
    }
    return std::string("missing");
  };
  EXPECT_EQ(kindOf(3), "edit");
  EXPECT_EQ(kindOf(4), "checkbox");
  EXPECT_EQ(kindOf(5), "checkbox");
}
#endif

}  // namespace
}  // namespace vhost
