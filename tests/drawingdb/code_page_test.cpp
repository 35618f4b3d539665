// Text in code pages: the bytes of a file's strings to UTF-8 and back, the
// \U+ and \M+ escapes, and text that survives a round trip through our
// writer and the peer reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "dwg_corpus_files.h"
#include "drawingdb/code_page.h"
#include "drawingdb/dxf_codec.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

std::string decoded(std::string_view page, std::string_view bytes) {
  const CodePage p = page == "UTF-8" ? CodePage::utf8() : CodePage::named(page);
  std::string scratch;
  return std::string(p.decode(bytes, scratch));
}

std::string encoded(std::string_view page, std::string_view text) {
  const CodePage p = CodePage::named(page);
  std::string scratch;
  return std::string(p.encode(text, scratch));
}

struct Decoding {
  const char* page;
  std::string bytes;
  std::string text;
};

TEST(CodePage, DecodesThePagesAndTheEscapes) {
  const Decoding cases[] = {
      {"ANSI_1252", "Gr\xFC\xDF" "e \x80", "Grüße €"},
      {"ansi_1252", "\xC4\xD6\xDC", "ÄÖÜ"},  // names compared without regard to case
      {"ANSI_1251", "\xCF\xF0\xE8\xE2\xE5\xF2", "Привет"},
      {"ANSI_1253", "\xD9\xEC\xDD\xE3\xE1", "Ωμέγα"},
      {"ANSI_1250", "\xB3\xF3\xBF\xEA\x9C\xE6", "łóżęść"},
      {"DOS850", "\x81\x94", "üö"},
      {"ANSI_1252", "\\U+0416\\U+03a9!", "ЖΩ!"},
      {"ANSI_1252", "\\U+D83D\\U+DE00 \\U+0001F600", "\U0001F600 \U0001F600"},
      // MTEXT codes and broken escapes stay text.
      {"ANSI_1252", "\\P\\U+12 \\U+00G1 \\M+9ABCD", "\\P\\U+12 \\U+00G1 \\M+9ABCD"},
      {"ANSI_1252", "\\U+DE00", "\xEF\xBF\xBD"},
      {"ANSI_932", "\x82\xA0\x93\xFA", "あ日"},
      {"ANSI_1252", "\\M+182A0", "あ"},
      {"ANSI_1252", "\\M+5CEC4", "文"},
      {"UTF-8", "Grüße \\U+03A9", "Grüße Ω"},
      {"UTF-8", "a\xFF" "b", "a\xEF\xBF\xBD" "b"},
      {"NO_SUCH_PAGE", "\xFC\\U+03A9", "\xFC\\U+03A9"},  // an unknown page keeps the bytes
  };
  for (const Decoding& c : cases) EXPECT_EQ(decoded(c.page, c.bytes), c.text) << c.page << " " << c.bytes;
}

TEST(CodePage, CountsWhatItCannotRead) {
  const CodePage p = CodePage::utf8();
  std::string scratch;
  p.decode("\xC3(\xE2\x82", scratch);
  EXPECT_EQ(p.undecodable(), 3u);
  const CodePage w = CodePage::named("ANSI_1252");
  w.decode("\x81ok\\U+D800x", scratch);
  EXPECT_EQ(w.undecodable(), 2u);
}

TEST(CodePage, EncodesWhatThePageHoldsAndEscapesTheRest) {
  struct Encoding {
    const char* page;
    std::string bytes;
    std::string text;
    std::string readBack;  // what the bytes read as, when not the text
  };
  const Encoding cases[] = {
      {"ANSI_1252", "Gr\xFC\xDF" "e \x80", "Grüße €", ""},
      {"ANSI_1252", "\\U+03A9 \\U+2713", "Ω ✓", ""},
      {"ANSI_1251", "\xCF\xF0\xE8 \\U+00E4", "При ä", ""},
      {"ANSI_1253", "\xD9\xEC\xDD\xE3\xE1", "Ωμέγα", ""},
      {"ANSI_932", "\x82\xA0\\U+00E4", "あä", ""},
      {"ANSI_1252", "\\U+D83D\\U+DE00", "\U0001F600", ""},
      // A backslash that would read as an escape is escaped itself; MTEXT
      // codes are left alone.
      {"ANSI_1252", "\\U+005CU+0041 \\P", "\\U+0041 \\P", ""},
      // A byte that starts no UTF-8 character is an ISO 8859-1 one.
      {"ANSI_1252", "W\xE4nde", "W\xE4nde", "Wände"},
      {"ANSI_1251", "\\U+00E4", "\xE4", "ä"},
  };
  for (const Encoding& c : cases) {
    EXPECT_EQ(encoded(c.page, c.text), c.bytes) << c.page << " " << c.text;
    EXPECT_EQ(decoded(c.page, c.bytes), c.readBack.empty() ? c.text : c.readBack) << c.page << " " << c.bytes;
  }
}

// A drawing whose texts hold characters of several scripts, on a layer
// whose name the code page holds.
Database international(const std::string& codePage, const std::string& layer) {
  Database db = Database::create(Release::R2000);
  db.header.set("$DWGCODEPAGE", codePage);
  db.addRecord(db.layers, layer);
  const char* texts[] = {"Grüße aus Köln", "Ωμέγα", "Привет", "€ ✓ 日本"};
  for (const char* t : texts) {
    Entity e = sample::entity(EntityKind::Text, layer);
    get<Text>(e.data).value = t;
    get<Text>(e.data).height = 2.5;
    db.addEntity(db.modelSpace(), std::move(e));
  }
  return db;
}

std::vector<std::string> textsOf(Database& db) {
  std::vector<std::string> out;
  for (EntityId id : db.modelSpace().entities)
    if (const auto* t = get_if<Text>(&db.entities[id].data)) out.push_back(t->value);
  return out;
}

const char* kTextScript = R"PY(
import sys, ezdxf
doc = ezdxf.readfile(sys.argv[1])
auditor = doc.audit()
print("ERRORS", len(auditor.errors))
for e in auditor.errors: print("AUDIT", e.code, e.message)
for e in doc.modelspace():
    if e.dxftype() == "TEXT": print("TEXT:%s|%s|0|x|" % (e.dxf.text, e.dxf.layer))
)PY";

// The peer shows what a file holds in its code page as such, and the
// characters outside it as the \U+ escapes the file holds: decoded, they
// are the text written.
TEST(CodePage, TextSurvivesOurWriterAndThePeer) {
  const std::vector<std::string> expected = {"Grüße aus Köln", "Ωμέγα", "Привет", "€ ✓ 日本"};
  struct Target {
    const char* codePage;
    Release release;
    const char* layer;
    std::string bytes;  // part of the file as the page writes it
  };
  const Target targets[] = {
      {"ANSI_1252", Release::R2000, "Wände", "Gr\xFC\xDF" "e aus K\xF6ln"},
      {"ANSI_1251", Release::R2004, "Стены", "\xCF\xF0\xE8\xE2\xE5\xF2"},
      {"ANSI_1253", Release::R14, "Τοίχοι", "\xD9\xEC\xDD\xE3\xE1"},
      {"ANSI_1251", Release::R12, "Wände", "\\U+041F\\U+0440"},  // R12 names no page: ANSI_1252
  };
  for (const Target& t : targets) {
    SCOPED_TRACE(std::string(t.codePage) + " " + std::string(releaseInfo(t.release).version));
    Database db = international(t.codePage, t.layer);
    StringSink sink;
    ASSERT_TRUE(writeDxf(db, sink, {t.release, false, 16}).ok());
    EXPECT_NE(sink.data.find(t.bytes), std::string::npos);
    EXPECT_EQ(sink.data.find("Grüße"), std::string::npos);

    Database back;
    const DxfReadResult r = readDxf(sink.data, back);
    ASSERT_TRUE(r.status.ok()) << r.status.detail;
    for (const Finding& f : r.findings) ADD_FAILURE() << f.code << ": " << f.detail;
    EXPECT_EQ(textsOf(back), expected);
    EXPECT_NE(back.layers.find(t.layer), nullptr);

    if (!sample::haveEzdxf()) continue;
    const std::string path = "/tmp/drawingdb_codepage_" + std::to_string(getpid()) + ".dxf";
    std::ofstream(path, std::ios::binary) << sink.data;
    const sample::PeerResult peer = sample::readWithPeer(path, kTextScript);
    ASSERT_TRUE(peer.ran) << peer.auditText;
    EXPECT_EQ(peer.errors, 0) << peer.auditText;
    std::vector<std::string> seen;
    for (const sample::PeerEntity& e : peer.entities) {
      seen.push_back(decoded("UTF-8", e.kind.substr(5)));
      EXPECT_EQ(e.layer, t.layer);
    }
    EXPECT_EQ(seen, expected) << peer.auditText;
    std::remove(path.c_str());
  }
}

// A drawing of the corpus in ANSI_1251 names a dictionary entry in \U+
// escapes; written back in its page the name is the page's bytes.
TEST(CodePage, CorpusCyrillicName) {
  const std::filesystem::path path = std::filesystem::path(TROVAK_CORPUS_DIR) / "dwg/2000/PolyLine2D.dxf";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "the corpus is not there";
  Database db;
  ASSERT_TRUE(readDxf(fileContents(path), db).status.ok());
  const std::string name = "Аннотативный";
  bool found = false;
  for (const Object& o : db.objects)
    if (const auto* d = std::get_if<Dictionary>(&o.data))
      for (const DictionaryEntry& e : d->entries) found = found || e.name == name;
  EXPECT_TRUE(found);
  StringSink sink;
  ASSERT_TRUE(writeDxf(db, sink, {Release::R2000, false, 16}).ok());
  EXPECT_NE(sink.data.find("\xC0\xED\xED\xEE\xF2\xE0\xF2\xE8\xE2\xED\xFB\xE9"), std::string::npos);
}

TEST(CodePage, UnknownPageKeepsTheBytesAndSaysSo) {
  const std::string file =
      "  0\r\nSECTION\r\n  2\r\nHEADER\r\n  9\r\n$ACADVER\r\n  1\r\nAC1015\r\n  9\r\n$DWGCODEPAGE\r\n  3\r\nEBCDIC_500\r\n"
      "  0\r\nENDSEC\r\n  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  0\r\nTEXT\r\n  5\r\n20\r\n  8\r\n0\r\n 10\r\n0.0\r\n"
      " 20\r\n0.0\r\n 30\r\n0.0\r\n 40\r\n1.0\r\n  1\r\n\xC1\xC2\r\n  0\r\nENDSEC\r\n  0\r\nEOF\r\n";
  Database db;
  const DxfReadResult r = readDxf(file, db);
  ASSERT_TRUE(r.status.ok()) << r.status.detail;
  ASSERT_EQ(r.findings.size(), 1u);
  EXPECT_EQ(r.findings[0].code, "unknown-code-page");
  ASSERT_EQ(textsOf(db).size(), 1u);
  EXPECT_EQ(textsOf(db)[0], "\xC1\xC2");
  std::vector<Finding> findings;
  StringSink sink;
  DxfWriteOptions options{Release::R2000, false, 16};
  options.findings = &findings;
  ASSERT_TRUE(writeDxf(db, sink, options).ok());
  EXPECT_NE(sink.data.find("\r\n\xC1\xC2\r\n"), std::string::npos);
  EXPECT_NE(sink.data.find("EBCDIC_500"), std::string::npos);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].code, "unknown-code-page");
}

}  // namespace
