#include "driver/output/JsonWriter.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using Layout = JsonWriter::Layout;

TEST(JsonWriter, places_commas_line_breaks_and_indents_for_each_layout) {
    std::string out;
    JsonWriter json(out);
    json.OpenObject();
    json.Key("lines").OpenArray();
    json.Unsigned(1);
    json.OpenObject(Layout::Inline);
    json.Key("a").Bool(true);
    json.Key("b").Null();
    json.Close();
    json.Close();
    json.Key("inline").OpenArray(Layout::Inline, ",");
    json.Double(0.5, std::chars_format::general, 6);
    json.ShortestDouble(0.01);
    json.Close();
    json.Key("empty").OpenObject();
    json.Close();
    json.Key("text").String("a\"b");
    json.Close();
    EXPECT_EQ(out,
              "{\n"
              "  \"lines\": [\n"
              "    1,\n"
              "    {\"a\": true, \"b\": null}\n"
              "  ],\n"
              "  \"inline\": [0.5,0.01],\n"
              "  \"empty\": {},\n"
              "  \"text\": \"a\\\"b\"\n"
              "}");
}

TEST(JsonWriter, resumes_a_document_written_before) {
    for (const bool hasMembers : {false, true}) {
        std::string out;
        JsonWriter json(out);
        json.Resume('}', Layout::Lines, true);
        json.Resume(']', Layout::Lines, hasMembers);
        json.OpenObject();
        json.Key("n").Unsigned(7);
        json.Close();
        EXPECT_EQ(out, std::string(hasMembers ? "," : "") + "\n    {\n      \"n\": 7\n    }");
        EXPECT_EQ(json.Depth(), 2u);
    }
}

}  // namespace
