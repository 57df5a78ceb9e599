// Tests of the option handle: definitions, the value store, the checks of
// every type and the set of valid values, list items, aliases and the typed
// getters.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tagopt_test_support.h"

using namespace tagopttest;

namespace {

// ---------------------------------------------------------------------------
// Initialization, order, lookup, release

TEST(TagoptInitialize, NullDefinitionsGiveAnEmptyHandle) {
    Handle h(tagopt_initialize(nullptr, 0));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->node_count, 0);
    EXPECT_EQ(h->comment_count, 0);
    EXPECT_EQ(h->flags, 0u);
    EXPECT_EQ(tagopt_get(h.get(), "anything"), nullptr);
}

TEST(TagoptInitialize, KeepsOnlyClosedAndKeepCommentsFlags) {
    Handle h(tagopt_initialize(nullptr, TAGOPT_CLOSED | TAGOPT_KEEP_COMMENTS | 0x40u | TAGOPT_HIDDEN));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->flags, static_cast<uint32_t>(TAGOPT_CLOSED | TAGOPT_KEEP_COMMENTS));
}

TEST(TagoptInitialize, StoresDefinitionsWithInitialValuesAndCounts) {
    Handle h = Make(OptimizerLikeRows());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->node_count, static_cast<int32_t>(OptimizerLikeRows().size()));
    EXPECT_EQ(Get(h.get(), "o"), "out.pdf");
    EXPECT_EQ(Get(h.get(), "ColorImageResolution"), "72.0");
    EXPECT_EQ(Get(h.get(), "screen"), "");
    const tagopt_node *n = tagopt_find(h.get(), "ColorImageFilter");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->type, static_cast<uint32_t>(TAGOPT_SINGLE));
    EXPECT_STREQ(n->choices, "DCTEncode,FlateEncode,LZWEncode,JPXEncode");
    EXPECT_STREQ(n->summary, "Selects downsample filter type for color images.");
}

TEST(TagoptInitialize, CopiesTheDefinitionTexts) {
    char name[] = "mode";
    char value[] = "fast";
    std::vector<tagopt_def> rows = {Def(name, TAGOPT_STRING, value)};
    Handle h = Make(rows);
    ASSERT_NE(h, nullptr);
    std::strcpy(value, "slow");
    std::strcpy(name, "xxxx");
    EXPECT_EQ(Get(h.get(), "mode"), "fast");
}

TEST(TagoptInitialize, LaterDefinitionOfTheSameNameWins) {
    Handle h = Make({Def("a", TAGOPT_STRING, "first"), Def("a", TAGOPT_INT, "7")});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->node_count, 1);
    EXPECT_EQ(Get(h.get(), "a"), "7");
    EXPECT_EQ(tagopt_find(h.get(), "a")->type, static_cast<uint32_t>(TAGOPT_INT));
}

TEST(TagoptInitialize, BadDefinitionsPrintTheAddingErrorAndFail) {
    struct Case {
        const char *what;
        tagopt_def def;
        const char *printed;
    };
    const Case cases[] = {
        {"type 0", Def("t", 0, "x"), "Error adding tag t in tagopt_initialize:\n   Invalid type (0) for tag \"t\".\n"},
        {"type 11", Def("t", 11, "x"), "Error adding tag t in tagopt_initialize:\n   Invalid type (11) for tag \"t\".\n"},
        {"null value", Def("t", TAGOPT_STRING, nullptr),
         "Error adding tag t in tagopt_initialize:\n   node passed to tagopt_putnode had NULL in value\n"},
        {"alias without text", Def("t", TAGOPT_ALIAS, ""),
         "Error adding tag t in tagopt_initialize:\n   tag 't' is an alias but does not have an alias\n"},
        {"single without choices", Def("t", TAGOPT_SINGLE, "a"),
         "Error adding tag t in tagopt_initialize:\n   tag 't' is a single- or multi-choice and must have a set "
         "of valid values\n"},
        {"multi with empty choices", Def("t", TAGOPT_MULTI, "a", ""),
         "Error adding tag t in tagopt_initialize:\n   tag 't' is a single- or multi-choice and must have a set "
         "of valid values\n"},
        {"invalid initial value", Def("t", TAGOPT_INT, "abc"),
         "Error adding tag t in tagopt_initialize:\n   tag 't' is an integer; 'abc' is not a valid value\n"},
    };
    for (const Case &c : cases) {
        testing::internal::CaptureStderr();
        Handle h = Make({Def("ok", TAGOPT_STRING, "1"), c.def});
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_EQ(h, nullptr) << c.what;
        EXPECT_EQ(printed, c.printed) << c.what;
    }
}

TEST(TagoptTree, NamesAreCaseSensitiveAndOrderedByteWise) {
    Handle h = Make(OptimizerLikeRows());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_get(h.get(), "O"), nullptr);
    EXPECT_EQ(tagopt_get(h.get(), "colorImageFilter"), nullptr);
    const char **names = tagopt_tags(h.get());
    ASSERT_NE(names, nullptr);
    std::vector<std::string> order;
    for (const char **n = names; *n != nullptr; ++n) order.push_back(*n);
    std::free(names);
    ASSERT_EQ(order.size(), OptimizerLikeRows().size());
    for (size_t i = 1; i < order.size(); ++i) {
        EXPECT_LT(std::memcmp(order[i - 1].c_str(), order[i].c_str(), std::min(order[i - 1].size(), order[i].size()) + 1), 0)
            << order[i - 1] << " before " << order[i];
    }
    auto pos = [&](const char *n) { return std::find(order.begin(), order.end(), n) - order.begin(); };
    EXPECT_LT(pos("ColorImageFilter"), pos("allowCopying"));
    EXPECT_LT(pos("StatusCallbacks"), pos("h"));
    EXPECT_LT(pos("h"), pos("help"));
}

TEST(TagoptTree, BytesAboveSevenBitSortAfterLetters) {
    Handle h = Make({Def("\xc3\xa9t\xc3\xa9", TAGOPT_STRING, "1"), Def("z", TAGOPT_STRING, "2"),
                     Def("A", TAGOPT_STRING, "3")});
    ASSERT_NE(h, nullptr);
    const char **names = tagopt_tags(h.get());
    ASSERT_NE(names, nullptr);
    EXPECT_STREQ(names[0], "A");
    EXPECT_STREQ(names[1], "z");
    EXPECT_STREQ(names[2], "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(names[3], nullptr);
    std::free(names);
}

TEST(TagoptTree, TagListGrowsPastItsFirstBlock) {
    std::vector<std::string> names;
    for (int i = 0; i < 600; ++i) names.push_back("t" + std::to_string(1000 + i));
    std::vector<tagopt_def> rows;
    for (const std::string &n : names) rows.push_back(Def(n.c_str(), TAGOPT_STRING, "v"));
    Handle h = Make(rows);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->node_count, 600);
    const char **list = tagopt_tags(h.get());
    ASSERT_NE(list, nullptr);
    int count = 0;
    while (list[count] != nullptr) ++count;
    EXPECT_EQ(count, 600);
    EXPECT_STREQ(list[599], "t1599");
    std::free(list);
}

TEST(TagoptRelease, NullHandleIsIgnored) {
    tagopt_release(nullptr);
    SUCCEED();
}

TEST(TagoptGet, NullHandleOrNameGivesNull) {
    Handle h = Make(OptimizerLikeRows());
    EXPECT_EQ(tagopt_get(nullptr, "o"), nullptr);
    EXPECT_EQ(tagopt_get(h.get(), nullptr), nullptr);
    EXPECT_EQ(tagopt_get(h.get(), "missing"), nullptr);
}

// ---------------------------------------------------------------------------
// Pointer tags

TEST(TagoptPointer, InitialValueIsReadAsACNumber) {
    Handle h = Make({Def("p0", TAGOPT_POINTER, "0"), Def("pdec", TAGOPT_POINTER, "4096"),
                     Def("phex", TAGOPT_POINTER, "0x1000"), Def("poct", TAGOPT_POINTER, "010000"),
                     Def("pnull", TAGOPT_POINTER, nullptr)});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_get(h.get(), "p0"), nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(tagopt_get(h.get(), "pdec")), 4096u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(tagopt_get(h.get(), "phex")), 4096u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(tagopt_get(h.get(), "poct")), 4096u);
    EXPECT_EQ(tagopt_get(h.get(), "pnull"), nullptr);
}

TEST(TagoptPointer, PutStoresTheCallersPointerUncopied) {
    Handle h = Make(OptimizerLikeRows());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_get(h.get(), "StatusCallbacks"), nullptr);
    int record = 5;
    const char *address = reinterpret_cast<const char *>(&record);
    EXPECT_EQ(tagopt_put(h.get(), "StatusCallbacks", address), 0);
    EXPECT_EQ(tagopt_get(h.get(), "StatusCallbacks"), address);
    EXPECT_EQ(tagopt_put(h.get(), "StatusCallbacks", nullptr), 0);
    EXPECT_EQ(tagopt_get(h.get(), "StatusCallbacks"), nullptr);
    // The typed getters never read a pointer as text.
    EXPECT_EQ(tagopt_put(h.get(), "StatusCallbacks", "12"), 0);
    EXPECT_EQ(tagopt_get_int(h.get(), "StatusCallbacks"), 0);
    EXPECT_EQ(tagopt_get_bool(h.get(), "StatusCallbacks"), 0);
    EXPECT_EQ(tagopt_get_double(h.get(), "StatusCallbacks"), 0.0);
}

// ---------------------------------------------------------------------------
// tagopt_put: the type check and what is stored

struct PutCase {
    uint32_t type;
    const char *choices;
    const char *value;
    int result;
    const char *stored;  // value after the put (initial value kept on failure)
    const char *message; // error_text after a failure
    const char *initial = nullptr; // initial value; null: a default valid for the type
};

class TagoptPutTyped : public testing::TestWithParam<PutCase> {};

const char *InitialFor(uint32_t type) {
    switch (type) {
    case TAGOPT_BOOLEAN: return "false";
    case TAGOPT_INT: return "5";
    case TAGOPT_DOUBLE: return "5";
    case TAGOPT_SINGLE: return "Average";
    case TAGOPT_MULTI: return "";
    default: return "init";
    }
}

TEST_P(TagoptPutTyped, ChecksAndStores) {
    const PutCase &c = GetParam();
    const char *initial = c.initial != nullptr ? c.initial : InitialFor(c.type);
    Handle h = Make({Def("t", c.type, initial, c.choices)});
    ASSERT_NE(h, nullptr) << c.value;
    std::strcpy(h->error_text, "untouched");
    EXPECT_EQ(tagopt_put(h.get(), "t", c.value), c.result) << "value '" << c.value << "'";
    EXPECT_EQ(Get(h.get(), "t"), c.result == 0 ? c.stored : initial) << "value '" << c.value << "'";
    if (c.result != 0) {
        EXPECT_STREQ(h->error_text, c.message) << "value '" << c.value << "'";
    } else {
        EXPECT_STREQ(h->error_text, "untouched") << "value '" << c.value << "'";
    }
}

constexpr const char *kBoolMsg = "tag 't' is a boolean and must be 'true', 'false', '1', or '0'";
constexpr const char *kSampleChoices = "Average,Bicubic,Subsample";

INSTANTIATE_TEST_SUITE_P(
    Boolean, TagoptPutTyped,
    testing::Values(PutCase{TAGOPT_BOOLEAN, nullptr, "TRUE", 0, "true", nullptr},
                    PutCase{TAGOPT_BOOLEAN, nullptr, "1", 0, "true", nullptr},
                    PutCase{TAGOPT_BOOLEAN, nullptr, "tRuE", 0, "true", nullptr},
                    PutCase{TAGOPT_BOOLEAN, nullptr, "0", 0, "false", nullptr},
                    PutCase{TAGOPT_BOOLEAN, nullptr, "FALSE", 0, "false", nullptr},
                    PutCase{TAGOPT_BOOLEAN, nullptr, "yes", 3, nullptr, kBoolMsg},
                    PutCase{TAGOPT_BOOLEAN, nullptr, "", 3, nullptr, kBoolMsg},
                    PutCase{TAGOPT_BOOLEAN, nullptr, " 1", 3, nullptr, kBoolMsg},
                    PutCase{TAGOPT_BOOLEAN, nullptr, "01", 3, nullptr, kBoolMsg}));

INSTANTIATE_TEST_SUITE_P(
    Integer, TagoptPutTyped,
    testing::Values(PutCase{TAGOPT_INT, nullptr, "0x10", 0, "0x10", nullptr},
                    PutCase{TAGOPT_INT, nullptr, "0X1F", 0, "0X1F", nullptr},
                    PutCase{TAGOPT_INT, nullptr, " 42 ", 0, " 42 ", nullptr},
                    PutCase{TAGOPT_INT, nullptr, "", 0, "", nullptr},
                    PutCase{TAGOPT_INT, nullptr, "-7", 0, "-7", nullptr},
                    PutCase{TAGOPT_INT, nullptr, "+7\t", 0, "+7\t", nullptr},
                    PutCase{TAGOPT_INT, nullptr, "99999999999", 0, "99999999999", nullptr},
                    PutCase{TAGOPT_INT, nullptr, "12x", 3, nullptr,
                            "tag 't' is an integer; '12x' is not a valid value"},
                    PutCase{TAGOPT_INT, nullptr, "1.5", 3, nullptr,
                            "tag 't' is an integer; '1.5' is not a valid value"},
                    PutCase{TAGOPT_INT, nullptr, "0x", 3, nullptr, "tag 't' is an integer; '0x' is not a valid value"},
                    PutCase{TAGOPT_INT, nullptr, "abc", 3, nullptr,
                            "tag 't' is an integer; 'abc' is not a valid value"},
                    PutCase{TAGOPT_INT, nullptr, "-", 3, nullptr, "tag 't' is an integer; '-' is not a valid value"}));

INSTANTIATE_TEST_SUITE_P(
    Double, TagoptPutTyped,
    testing::Values(PutCase{TAGOPT_DOUBLE, nullptr, "1.5", 0, "1.5", nullptr},
                    PutCase{TAGOPT_DOUBLE, nullptr, "2e3", 0, "2e3", nullptr},
                    PutCase{TAGOPT_DOUBLE, nullptr, "7 ", 0, "7 ", nullptr},
                    PutCase{TAGOPT_DOUBLE, nullptr, "-.5", 0, "-.5", nullptr},
                    PutCase{TAGOPT_DOUBLE, nullptr, "5.", 0, "5.", nullptr},
                    PutCase{TAGOPT_DOUBLE, nullptr, "", 0, "", nullptr},
                    PutCase{TAGOPT_DOUBLE, nullptr, "1.5mm", 3, nullptr,
                            "tag 't' is a double; '1.5mm' is not a valid value"},
                    PutCase{TAGOPT_DOUBLE, nullptr, "0x10", 3, nullptr,
                            "tag 't' is a double; '0x10' is not a valid value"},
                    PutCase{TAGOPT_DOUBLE, nullptr, "inf", 3, nullptr,
                            "tag 't' is a double; 'inf' is not a valid value"},
                    PutCase{TAGOPT_DOUBLE, nullptr, ".", 3, nullptr, "tag 't' is a double; '.' is not a valid value"},
                    PutCase{TAGOPT_DOUBLE, nullptr, "1e", 3, nullptr, "tag 't' is a double; '1e' is not a valid value"}));

INSTANTIATE_TEST_SUITE_P(
    Choices, TagoptPutTyped,
    testing::Values(
        PutCase{TAGOPT_SINGLE, kSampleChoices, "Bicubic", 0, "Bicubic", nullptr},
        PutCase{TAGOPT_SINGLE, kSampleChoices, "bicubic", 3, nullptr,
                "The value 'bicubic' for tag 't' is not valid.\nThe set of valid values is "
                "'Average,Bicubic,Subsample'."},
        PutCase{TAGOPT_SINGLE, kSampleChoices, "Average,Bicubic", 3, nullptr,
                "tag 't' is a single-choice tag and cannot contain a comma"},
        PutCase{TAGOPT_SINGLE, kSampleChoices, "", 3, nullptr,
                "The value '' for tag 't' is not valid.\nThe set of valid values is 'Average,Bicubic,Subsample'."},
        PutCase{TAGOPT_MULTI, "a,b,c", "a,c", 0, "a,c", nullptr},
        PutCase{TAGOPT_MULTI, "a,b,c", "", 0, "", nullptr},
        PutCase{TAGOPT_MULTI, "a,b,c", "b,", 0, "b,", nullptr},
        PutCase{TAGOPT_MULTI, "a,b,c", "a,,b", 3, nullptr,
                "The value '' for tag 't' is not valid.\nThe set of valid values is 'a,b,c'."},
        PutCase{TAGOPT_MULTI, "a,,b", "a,,b", 0, "a,,b", nullptr},
        PutCase{TAGOPT_MULTI, ",a", ",a", 0, ",a", nullptr},
        PutCase{TAGOPT_MULTI, "a,b,c", "a, b", 3, nullptr,
                "The value ' b' for tag 't' is not valid.\nThe set of valid values is 'a,b,c'."},
        PutCase{TAGOPT_MULTI, "1-10,x", "x,5,10", 0, "x,5,10", nullptr},
        PutCase{TAGOPT_MULTI, "1-10,x", "x,11", 3, nullptr,
                "The value '11' for tag 't' is not valid.\nThe set of valid values is '1-10,x'."},
        PutCase{TAGOPT_DOUBLE, "1-100", "100", 0, "100", nullptr, "50"},
        PutCase{TAGOPT_DOUBLE, "1-100", "1.5", 0, "1.5", nullptr, "50"},
        PutCase{TAGOPT_DOUBLE, "1-100", " 7 ", 0, " 7 ", nullptr, "50"},
        PutCase{TAGOPT_DOUBLE, "1-100", "0", 3, nullptr,
                "The value '0' for tag 't' is not valid.\nThe set of valid values is '1-100'.", "50"},
        PutCase{TAGOPT_DOUBLE, "1-100", "100.5", 3, nullptr,
                "The value '100.5' for tag 't' is not valid.\nThe set of valid values is '1-100'.", "50"},
        PutCase{TAGOPT_DOUBLE, "72-", "600", 0, "600", nullptr, "72"},
        PutCase{TAGOPT_DOUBLE, "72-", "71.9", 3, nullptr,
                "The value '71.9' for tag 't' is not valid.\nThe set of valid values is '72-'.", "72"},
        PutCase{TAGOPT_DOUBLE, "-5-5", "-5", 0, "-5", nullptr, "0"},
        PutCase{TAGOPT_DOUBLE, "-5-5", "5.5", 3, nullptr,
                "The value '5.5' for tag 't' is not valid.\nThe set of valid values is '-5-5'.", "0"},
        PutCase{TAGOPT_DOUBLE, "-5", "1000", 0, "1000", nullptr, "0"},
        PutCase{TAGOPT_DOUBLE, "0.5,2.5", "2.50", 0, "2.50", nullptr, "0.5"},
        PutCase{TAGOPT_DOUBLE, "0.5,2.5", "2", 3, nullptr,
                "The value '2' for tag 't' is not valid.\nThe set of valid values is '0.5,2.5'.", "0.5"},
        PutCase{TAGOPT_INT, "0x10,40", "16", 0, "16", nullptr, "40"},
        PutCase{TAGOPT_INT, "40,128", "0x80", 0, "0x80", nullptr, "40"},
        PutCase{TAGOPT_INT, "40,128", "64", 3, nullptr,
                "The value '64' for tag 't' is not valid.\nThe set of valid values is '40,128'.", "40"},
        PutCase{TAGOPT_STRING, "red,dash-dot", "red", 0, "red", nullptr, ""},
        PutCase{TAGOPT_STRING, "red,dash-dot", "dash-dot", 3, nullptr,
                "The value 'dash-dot' for tag 't' is not valid.\nThe set of valid values is 'red,dash-dot'.", ""},
        PutCase{TAGOPT_STRING, "red,green", " red ", 0, " red ", nullptr, ""},
        PutCase{TAGOPT_STRING, "red,green", "", 0, "", nullptr, "red"},
        PutCase{TAGOPT_STRING, "red,green", "Red", 3, nullptr,
                "The value 'Red' for tag 't' is not valid.\nThe set of valid values is 'red,green'.", ""},
        PutCase{TAGOPT_UNTYPED, "red,green", "", 3, nullptr,
                "The value '' for tag 't' is not valid.\nThe set of valid values is 'red,green'.", "red"},
        PutCase{TAGOPT_UNTYPED, ",red", "  ", 0, "  ", nullptr, "red"}));

TEST(TagoptPut, StringListUntypedTakeAnything) {
    Handle h = Make({Def("s", TAGOPT_STRING, ""), Def("l", TAGOPT_LIST, ""), Def("u", TAGOPT_UNTYPED, "")});
    ASSERT_NE(h, nullptr);
    for (const char *name : {"s", "l", "u"}) {
        EXPECT_EQ(tagopt_put(h.get(), name, "any, text\twith \"quotes\""), 0) << name;
        EXPECT_EQ(Get(h.get(), name), "any, text\twith \"quotes\"") << name;
    }
}

TEST(TagoptPut, EqualValueReturnsAtOnceWithoutCheck) {
    // The initial value was admitted by the definition; putting the same text
    // again is not checked, even where the choices would now refuse it.
    Handle h = Make({Def("n", TAGOPT_INT, "5")});
    ASSERT_NE(h, nullptr);
    std::strcpy(h->error_text, "untouched");
    EXPECT_EQ(tagopt_put(h.get(), "n", "5"), 0);
    EXPECT_STREQ(h->error_text, "untouched");
}

TEST(TagoptPut, UndefinedNameCreatesAStringTagOnlyOnAnOpenHandle) {
    Handle open = Make({Def("a", TAGOPT_INT, "1")});
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(tagopt_put(open.get(), "fresh", "value"), 0);
    EXPECT_EQ(Get(open.get(), "fresh"), "value");
    EXPECT_EQ(tagopt_find(open.get(), "fresh")->type, static_cast<uint32_t>(TAGOPT_STRING));
    EXPECT_EQ(open->node_count, 2);

    Handle closed = Make({Def("a", TAGOPT_INT, "1")}, TAGOPT_CLOSED);
    ASSERT_NE(closed, nullptr);
    std::strcpy(closed->error_text, "untouched");
    EXPECT_EQ(tagopt_put(closed.get(), "fresh", "value"), 1);
    EXPECT_EQ(tagopt_get(closed.get(), "fresh"), nullptr);
    EXPECT_STREQ(closed->error_text, "untouched");
    EXPECT_EQ(closed->node_count, 1);
    // Defined tags can still be set on a closed handle.
    EXPECT_EQ(tagopt_put(closed.get(), "a", "2"), 0);
    EXPECT_EQ(Get(closed.get(), "a"), "2");
}

TEST(TagoptPut, NullArguments) {
    Handle h = Make({Def("s", TAGOPT_STRING, "x"), Def("b", TAGOPT_BOOLEAN, "true")});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_put(nullptr, "s", "v"), 1);
    EXPECT_EQ(tagopt_put(h.get(), "s", nullptr), 1);
    EXPECT_STREQ(h->error_text, "tag 's' cannot be given a NULL value");
    EXPECT_EQ(Get(h.get(), "s"), "x");
    EXPECT_EQ(tagopt_put(h.get(), "b", nullptr), 1);
    EXPECT_EQ(Get(h.get(), "b"), "true");
    EXPECT_EQ(tagopt_put(h.get(), "new", nullptr), 1);
    EXPECT_STREQ(h->error_text, "node passed to tagopt_putnode had NULL in value");
    EXPECT_EQ(tagopt_put(h.get(), nullptr, "v"), 1);
    EXPECT_STREQ(h->error_text, "node passed to tagopt_putnode had NULL in key");
}

TEST(TagoptPut, ReturnedTextStaysValidUntilTheValueChanges) {
    Handle h = Make({Def("s", TAGOPT_STRING, "first")});
    ASSERT_NE(h, nullptr);
    const char *before = tagopt_get(h.get(), "s");
    EXPECT_EQ(tagopt_put(h.get(), "other", "x"), 0); // other tags come and go
    EXPECT_STREQ(before, "first");
}

// ---------------------------------------------------------------------------
// error_text

TEST(TagoptErrorText, LongMessagesAreCutAndTerminated) {
    Handle h = Make({Def("n", TAGOPT_INT, "1")});
    ASSERT_NE(h, nullptr);
    std::memset(h->error_text, 'Z', sizeof h->error_text);
    const std::string huge(5000, 'q');
    EXPECT_EQ(tagopt_put(h.get(), "n", huge.c_str()), 3);
    const std::string text(h->error_text);
    EXPECT_EQ(text.size(), static_cast<size_t>(TAGOPT_ERROR_TEXT_SIZE - 1));
    EXPECT_EQ(text.rfind("tag 'n' is an integer; 'qqq", 0), 0u);
    EXPECT_EQ(h->error_text[TAGOPT_ERROR_TEXT_SIZE - 1], '\0');
}

TEST(TagoptErrorText, MessagesReplaceEachOther) {
    Handle h = Make({Def("n", TAGOPT_INT, "1"), Def("b", TAGOPT_BOOLEAN, "true")});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_put(h.get(), "n", std::string(300, '9').append("x").c_str()), 3);
    EXPECT_EQ(tagopt_put(h.get(), "b", "no"), 3);
    EXPECT_STREQ(h->error_text, "tag 'b' is a boolean and must be 'true', 'false', '1', or '0'");
}

TEST(TagoptErrorText, PercentSignsInValuesAreNotFormats) {
    Handle h = Make({Def("n", TAGOPT_INT, "1")});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_put(h.get(), "n", "%s%n%d"), 3);
    EXPECT_STREQ(h->error_text, "tag 'n' is an integer; '%s%n%d' is not a valid value");
}

// ---------------------------------------------------------------------------
// tagopt_putnode and tagopt_check directly

TEST(TagoptPutnode, RefusesIncompleteNodes) {
    Handle h = Make({Def("s", TAGOPT_STRING, "x")});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_putnode(nullptr, nullptr, true), 1);
    EXPECT_EQ(tagopt_putnode(h.get(), nullptr, true), 1);
    EXPECT_STREQ(h->error_text, "node passed to tagopt_putnode was NULL");

    tagopt_node n;
    n.type = TAGOPT_STRING;
    n.value = const_cast<char *>("v");
    EXPECT_EQ(tagopt_putnode(h.get(), &n, true), 1);
    EXPECT_STREQ(h->error_text, "node passed to tagopt_putnode had NULL in key");

    n.name = const_cast<char *>("b");
    n.type = TAGOPT_BOOLEAN;
    n.value = const_cast<char *>("maybe");
    EXPECT_EQ(tagopt_putnode(h.get(), &n, true), 3);
    EXPECT_STREQ(h->error_text, "tag 'b' is a boolean and must be 'true', 'false', '1', or '0'");
    EXPECT_EQ(tagopt_find(h.get(), "b"), nullptr);
    EXPECT_EQ(h->node_count, 1);
}

TEST(TagoptPutnode, NewNameNeedsAllowNewAndAnOpenHandle) {
    Handle h = Make({Def("s", TAGOPT_STRING, "x")});
    ASSERT_NE(h, nullptr);
    tagopt_node n;
    n.name = const_cast<char *>("fresh");
    n.value = const_cast<char *>("v");
    n.type = TAGOPT_STRING;
    std::strcpy(h->error_text, "untouched");
    EXPECT_EQ(tagopt_putnode(h.get(), &n, false), 1);
    EXPECT_STREQ(h->error_text, "untouched");
    EXPECT_EQ(tagopt_find(h.get(), "fresh"), nullptr);
    EXPECT_EQ(tagopt_putnode(h.get(), &n, true), 0);
    EXPECT_EQ(Get(h.get(), "fresh"), "v");
    EXPECT_EQ(h->node_count, 2);

    // Replacing keeps the count and takes every field of the new node.
    n.name = const_cast<char *>("s");
    n.type = TAGOPT_INT;
    n.value = const_cast<char *>("3");
    n.summary = const_cast<char *>("a number");
    n.category = 7;
    EXPECT_EQ(tagopt_putnode(h.get(), &n, false), 0);
    const tagopt_node *s = tagopt_find(h.get(), "s");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->type, static_cast<uint32_t>(TAGOPT_INT));
    EXPECT_STREQ(s->summary, "a number");
    EXPECT_EQ(s->category, 7);
    EXPECT_EQ(h->node_count, 2);

    h->flags |= TAGOPT_CLOSED;
    n.value = const_cast<char *>("4");
    EXPECT_EQ(tagopt_putnode(h.get(), &n, true), 1);
    EXPECT_EQ(Get(h.get(), "s"), "3");
}

TEST(TagoptCheck, NullValueIsInvalidWithoutMessageForTypedTags) {
    Handle h = Make({});
    ASSERT_NE(h, nullptr);
    const uint32_t refused[] = {TAGOPT_BOOLEAN, TAGOPT_INT, TAGOPT_DOUBLE, TAGOPT_SINGLE, TAGOPT_MULTI, TAGOPT_ALIAS};
    const uint32_t admitted[] = {TAGOPT_STRING, TAGOPT_LIST, TAGOPT_UNTYPED, TAGOPT_POINTER};
    tagopt_node n;
    n.name = const_cast<char *>("t");
    n.choices = const_cast<char *>("a,b");
    for (uint32_t type : refused) {
        n.type = type;
        std::strcpy(h->error_text, "untouched");
        EXPECT_EQ(tagopt_check(h.get(), &n, nullptr), 0) << type;
        EXPECT_STREQ(h->error_text, "untouched") << type;
    }
    for (uint32_t type : admitted) {
        n.type = type;
        EXPECT_EQ(tagopt_check(h.get(), &n, nullptr), 1) << type;
    }
}

TEST(TagoptCheck, PointerTagsIgnoreChoices) {
    Handle h = Make({});
    ASSERT_NE(h, nullptr);
    tagopt_node n;
    n.name = const_cast<char *>("p");
    n.type = TAGOPT_POINTER;
    n.choices = const_cast<char *>("a,b");
    int target = 0;
    EXPECT_EQ(tagopt_check(h.get(), &n, reinterpret_cast<const char *>(&target)), 1);
}

TEST(TagoptCheck, SingleChoiceMustPassBothStages) {
    // A word containing '-' is read as a range and never matches.
    Handle h = Make({Def("t", TAGOPT_SINGLE, "x", "x,a-b, y")});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_put(h.get(), "t", "a-b"), 3);
    // " y" matches as an item, but the whole-value stage trims it to "y",
    // which no item equals.
    EXPECT_EQ(tagopt_put(h.get(), "t", " y"), 3);
    EXPECT_STREQ(h->error_text, "The value ' y' for tag 't' is not valid.\nThe set of valid values is 'x,a-b, y'.");
}

// ---------------------------------------------------------------------------
// Typed getters

TEST(TagoptGetters, ReadTheStoredText) {
    Handle h = Make({Def("b1", TAGOPT_BOOLEAN, "1"), Def("bT", TAGOPT_BOOLEAN, "TRUE"),
                     Def("bt", TAGOPT_BOOLEAN, "true"), Def("bf", TAGOPT_BOOLEAN, "false"),
                     Def("ihex", TAGOPT_INT, "0x1F"), Def("ineg", TAGOPT_INT, " -12 "), Def("iempty", TAGOPT_INT, ""),
                     Def("ibig", TAGOPT_INT, "99999999999"), Def("ismall", TAGOPT_INT, "-99999999999"),
                     Def("stext", TAGOPT_STRING, "12abc"), Def("d", TAGOPT_DOUBLE, "2.5e2"),
                     Def("dempty", TAGOPT_DOUBLE, ""), Def("shex", TAGOPT_STRING, "0x10")});
    ASSERT_NE(h, nullptr);
    tagopt_handle *p = h.get();
    EXPECT_EQ(tagopt_get_bool(p, "b1"), 1);
    EXPECT_EQ(tagopt_get_bool(p, "bT"), 0); // letter case matters once stored
    EXPECT_EQ(tagopt_get_bool(p, "bt"), 1);
    EXPECT_EQ(tagopt_get_bool(p, "bf"), 0);
    EXPECT_EQ(tagopt_get_bool(p, "missing"), 0);
    EXPECT_EQ(tagopt_get_int(p, "ihex"), 31);
    EXPECT_EQ(tagopt_get_int(p, "ineg"), -12);
    EXPECT_EQ(tagopt_get_int(p, "iempty"), 0);
    EXPECT_EQ(tagopt_get_int(p, "ibig"), INT32_MAX);
    EXPECT_EQ(tagopt_get_int(p, "ismall"), INT32_MIN);
    EXPECT_EQ(tagopt_get_int(p, "stext"), 0);
    EXPECT_EQ(tagopt_get_int(p, "missing"), 0);
    EXPECT_EQ(tagopt_get_int(nullptr, "ihex"), 0);
    EXPECT_DOUBLE_EQ(tagopt_get_double(p, "d"), 250.0);
    EXPECT_DOUBLE_EQ(tagopt_get_double(p, "dempty"), 0.0);
    EXPECT_DOUBLE_EQ(tagopt_get_double(p, "stext"), 0.0);
    EXPECT_DOUBLE_EQ(tagopt_get_double(p, "shex"), 0.0);
    EXPECT_DOUBLE_EQ(tagopt_get_double(p, "ineg"), -12.0);
    EXPECT_DOUBLE_EQ(tagopt_get_double(p, "missing"), 0.0);
}

// ---------------------------------------------------------------------------
// List items

TEST(TagoptAdditem, AppendsItemsWithCommasEscaped) {
    Handle h = Make({Def("l", TAGOPT_LIST, "")});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_additem(h.get(), "l", "a,b"), 0);
    EXPECT_EQ(Get(h.get(), "l"), "a\\,b");
    EXPECT_EQ(tagopt_additem(h.get(), "l", "c"), 0);
    EXPECT_EQ(tagopt_additem(h.get(), "l", ""), 0);
    EXPECT_EQ(Get(h.get(), "l"), "a\\,b,c,");
    // tagopt_put replaces the whole value, commas as given.
    EXPECT_EQ(tagopt_put(h.get(), "l", "x,y"), 0);
    EXPECT_EQ(Get(h.get(), "l"), "x,y");
}

TEST(TagoptAdditem, ListWithChoicesAdmitsOnlyValidItems) {
    Handle h = Make({Def("l", TAGOPT_LIST, "red", "red,green")});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_additem(h.get(), "l", "green"), 0);
    EXPECT_EQ(tagopt_additem(h.get(), "l", "blue"), 3);
    EXPECT_STREQ(h->error_text, "The value 'blue' for tag 'l' is not valid.\nThe set of valid values is 'red,green'.");
    EXPECT_EQ(Get(h.get(), "l"), "red,green");
}

TEST(TagoptAdditem, CreatesAListTagOnlyOnAnOpenHandle) {
    Handle open = Make({Def("s", TAGOPT_STRING, "x")});
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(tagopt_additem(open.get(), "new", "p,q"), 0);
    ASSERT_NE(tagopt_find(open.get(), "new"), nullptr);
    EXPECT_EQ(tagopt_find(open.get(), "new")->type, static_cast<uint32_t>(TAGOPT_LIST));
    EXPECT_EQ(Get(open.get(), "new"), "p\\,q");

    Handle closed = Make({Def("s", TAGOPT_STRING, "x")}, TAGOPT_CLOSED);
    ASSERT_NE(closed, nullptr);
    EXPECT_EQ(tagopt_additem(closed.get(), "new", "p"), 1);
    EXPECT_EQ(tagopt_additem(closed.get(), "s", "p"), 1);
    EXPECT_EQ(Get(closed.get(), "s"), "x");
    EXPECT_EQ(tagopt_additem(nullptr, "s", "p"), 1);
    EXPECT_EQ(tagopt_additem(open.get(), "new", nullptr), 1);
    EXPECT_STREQ(open->error_text, "no item given for tag 'new' in tagopt_additem");
}

// ---------------------------------------------------------------------------
// Aliases

TEST(TagoptAlias, AcceptsTrueOneAndEmpty) {
    struct Case {
        const char *value;
        int result;
        const char *stored;
        bool applied;
    };
    const Case cases[] = {
        {"1", 0, "true", true},      {"TRUE", 0, "true", true}, {"true", 0, "true", true},
        {"", 0, "", false},          {"false", 3, "", false},   {"0", 3, "", false},
        {"yes", 3, "", false},
    };
    for (const Case &c : cases) {
        Handle h = Make(OptimizerLikeRows());
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(tagopt_put(h.get(), "screen", c.value), c.result) << c.value;
        EXPECT_EQ(Get(h.get(), "screen"), c.stored) << c.value;
        EXPECT_EQ(Get(h.get(), "ColorImageFilter"), c.applied ? "DCTEncode" : "FlateEncode") << c.value;
        if (c.result == 3) {
            EXPECT_STREQ(h->error_text, "tag 'screen' is an alias and must be 'true', '1', or ''") << c.value;
        }
    }
}

TEST(TagoptAlias, AppliesOnlyWhenTheValueChangesToTrue) {
    Handle h = Make(OptimizerLikeRows());
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(tagopt_put(h.get(), "DownsampleColorImages", "false"), 0);
    ASSERT_EQ(tagopt_put(h.get(), "ColorImageResolution", "300"), 0);
    ASSERT_EQ(tagopt_put(h.get(), "screen", "true"), 0);
    EXPECT_EQ(Get(h.get(), "DownsampleColorImages"), "true");
    EXPECT_EQ(Get(h.get(), "ColorImageResolution"), "72");
    EXPECT_EQ(Get(h.get(), "ColorImageFilter"), "DCTEncode");
    EXPECT_EQ(Get(h.get(), "screen"), "true");

    // Putting "true" again while it holds "true" applies nothing.
    ASSERT_EQ(tagopt_put(h.get(), "ColorImageFilter", "LZWEncode"), 0);
    EXPECT_EQ(tagopt_put(h.get(), "screen", "true"), 0);
    EXPECT_EQ(Get(h.get(), "ColorImageFilter"), "LZWEncode");
    // "1" differs from the stored "true" by text, so it applies again.
    EXPECT_EQ(tagopt_put(h.get(), "screen", "1"), 0);
    EXPECT_EQ(Get(h.get(), "ColorImageFilter"), "DCTEncode");
    // Back to empty, then true again: applied once more.
    ASSERT_EQ(tagopt_put(h.get(), "screen", ""), 0);
    EXPECT_EQ(Get(h.get(), "screen"), "");
    ASSERT_EQ(tagopt_put(h.get(), "ColorImageFilter", "LZWEncode"), 0);
    EXPECT_EQ(tagopt_put(h.get(), "screen", "TRUE"), 0);
    EXPECT_EQ(Get(h.get(), "ColorImageFilter"), "DCTEncode");
}

TEST(TagoptAlias, FailingWordLeavesEarlierWordsAppliedAndTheAliasUnchanged) {
    Handle h = Make({Def("a", TAGOPT_STRING, "old"), Def("n", TAGOPT_INT, "1"), Def("c", TAGOPT_STRING, "old"),
                     Def("bad", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-a new -n oops -c new")},
                    TAGOPT_CLOSED);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_put(h.get(), "bad", "true"), 1);
    EXPECT_STREQ(h->error_text,
                 "error occured parsing alias for 'bad' at position 12:\n\t-a new -n oops -c new\n");
    EXPECT_EQ(Get(h.get(), "a"), "new");
    EXPECT_EQ(Get(h.get(), "n"), "1");
    EXPECT_EQ(Get(h.get(), "c"), "old");
    EXPECT_EQ(Get(h.get(), "bad"), "");
}

TEST(TagoptAlias, AliasInsideAnAliasIsAppliedInTurn) {
    Handle h = Make({Def("x", TAGOPT_STRING, ""), Def("y", TAGOPT_STRING, ""), Def("flag", TAGOPT_BOOLEAN, "false"),
                     Def("inner", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-y fromInner"),
                     Def("outer", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-x fromOuter -inner -flag true")});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_put(h.get(), "outer", "1"), 0);
    EXPECT_EQ(Get(h.get(), "x"), "fromOuter");
    EXPECT_EQ(Get(h.get(), "y"), "fromInner");
    EXPECT_EQ(Get(h.get(), "inner"), "true");
    EXPECT_EQ(Get(h.get(), "flag"), "true");
    EXPECT_EQ(Get(h.get(), "outer"), "true");
}

TEST(TagoptAlias, BooleansInAliasTextTakeAValue) {
    // Alias texts are read with booleans taking a value word, so a bare
    // boolean swallows the next word.
    Handle h = Make({Def("flag", TAGOPT_BOOLEAN, "false"), Def("s", TAGOPT_STRING, ""),
                     Def("al", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-flag -s x")},
                    TAGOPT_CLOSED);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_put(h.get(), "al", "true"), 1);
    EXPECT_STREQ(h->error_text, "error occured parsing alias for 'al' at position 7:\n\t-flag -s x\n");
}

TEST(TagoptAlias, LoopsFailInOrder) {
    struct Case {
        const char *what;
        std::vector<tagopt_def> rows;
        const char *start;
        const char *loopName;
    };
    const Case cases[] = {
        {"direct", {Def("a", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-s 1 -a")}, "a", "a"},
        {"direct with value", {Def("a", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-s 1 -a true")}, "a", "a"},
        {"through another alias",
         {Def("a", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-s 1 -b"),
          Def("b", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-a")},
         "a",
         "a"},
        {"three in a ring",
         {Def("a", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-s 1 -b"),
          Def("b", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-c"),
          Def("c", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-b")},
         "a",
         "b"},
        {"sets itself empty", {Def("a", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-s 1 -a \"\"")}, "a", "a"},
    };
    for (const Case &c : cases) {
        std::vector<tagopt_def> rows = c.rows;
        rows.push_back(Def("s", TAGOPT_STRING, "0"));
        Handle h = Make(rows);
        ASSERT_NE(h, nullptr) << c.what;
        EXPECT_EQ(tagopt_put(h.get(), c.start, "true"), 1) << c.what;
        const std::string expected = std::string("alias '") + c.loopName +
                                     "' sets itself in its alias text (directly or through other aliases)";
        EXPECT_EQ(std::string(h->error_text), expected) << c.what;
        EXPECT_EQ(Get(h.get(), c.start), "") << c.what;
        EXPECT_EQ(Get(h.get(), "s"), "1") << c.what; // words before the loop stay applied
        // The handle is usable afterwards: a later, unrelated alias failure
        // gets its own message.
        EXPECT_EQ(tagopt_put(h.get(), "s", "2"), 0) << c.what;
    }
}

TEST(TagoptAlias, LoopStateDoesNotLeakIntoLaterExpansions) {
    Handle h = Make({Def("loop", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-loop"),
                     Def("n", TAGOPT_INT, "0"),
                     Def("bad", TAGOPT_ALIAS, "", nullptr, nullptr, nullptr, "-n x")});
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tagopt_put(h.get(), "loop", "true"), 1);
    EXPECT_EQ(tagopt_put(h.get(), "bad", "true"), 1);
    EXPECT_STREQ(h->error_text, "error occured parsing alias for 'bad' at position 3:\n\t-n x\n");
}

} // namespace
