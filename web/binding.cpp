// The library as the page's worker calls it (web/worker.js): C functions on
// the public API only. A marker is read from bytes into a session, which
// holds the read, both output files and the picture until it is closed.
// Texts go out as UTF-8 JSON; the picture's boxes and cut lines as arrays of
// numbers that the worker hands to the page without copying them again.

#include <lumerca/archive.h>
#include <lumerca/marker.h>
#include <lumerca/picture.h>

#include <emscripten/emscripten.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace {

using lumerca::ImportStatus;

// ------------------------------------------------------------ JSON

class Json {
public:
  Json& Raw(std::string_view text) {
    out_ += text;
    fresh_ = false;
    return *this;
  }
  Json& String(std::string_view utf8) {
    out_ += '"';
    for (const char c : utf8) {
      const auto b = static_cast<unsigned char>(c);
      if (c == '"' || c == '\\') {
        out_ += '\\';
        out_ += c;
      } else if (b < 0x20) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", b);
        out_ += escape;
      } else {
        out_ += c;
      }
    }
    out_ += '"';
    fresh_ = false;
    return *this;
  }
  // Numbers that read back as the same double; those that are not finite as
  // the strings "inf", "-inf" and "nan", as lumerca-import --dump writes them.
  Json& Number(double value) {
    if (std::isnan(value)) return Raw("\"nan\"");
    if (std::isinf(value)) return Raw(value < 0 ? "\"-inf\"" : "\"inf\"");
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return Raw(text);
  }
  Json& Integer(long long value) { return Raw(std::to_string(value)); }
  Json& Bool(bool value) { return Raw(value ? "true" : "false"); }
  Json& Key(std::string_view key) {
    Comma();
    String(key);
    out_ += ':';
    fresh_ = true;
    return *this;
  }
  Json& Open(char bracket) {
    Comma();
    out_ += bracket;
    fresh_ = true;
    return *this;
  }
  Json& Close(char bracket) {
    out_ += bracket;
    fresh_ = false;
    return *this;
  }
  // A value in an array (after Key, values need no comma of their own).
  Json& Item() {
    Comma();
    return *this;
  }
  const std::string& str() const { return out_; }

private:
  void Comma() {
    if (!fresh_) out_ += ',';
    fresh_ = false;
  }
  std::string out_;
  bool fresh_ = true;
};

// A record field: numbers as numbers, Raw bytes as hex, texts decoded.
template <class T>
void Field(Json& json, const T& value, unsigned code_page) {
  if constexpr (std::is_same_v<T, std::string>) {
    json.String(lumerca::ToUtf8(value, code_page));
  } else if constexpr (std::is_floating_point_v<T>) {
    json.Number(static_cast<double>(value));
  } else if constexpr (std::is_integral_v<T>) {
    json.Integer(static_cast<long long>(value));
  } else {
    std::string hex;
    for (const auto b : value) {
      char text[3];
      std::snprintf(text, sizeof text, "%02x", static_cast<unsigned>(b));
      hex += text;
    }
    json.String(hex);
  }
}

template <class Record>
void Record(Json& json, const Record& record, unsigned code_page) {
  json.Open('{');
  lumerca::ForEachField(record, [&](const char* name, const auto& value) {
    json.Key(name);
    Field(json, value, code_page);
  });
  json.Close('}');
}

const char* KindName(lumerca::Diagnostic::Kind kind) {
  using Kind = lumerca::Diagnostic::Kind;
  switch (kind) {
    case Kind::StreamDamaged: return "stream damaged";
    case Kind::StreamSkipped: return "stream skipped";
    case Kind::StorageUnreadable: return "storage unreadable";
    case Kind::StreamUnreadable: return "stream unreadable";
    case Kind::EnumerationFailed: return "enumeration failed";
    case Kind::ImportFailed: return "import failed";
  }
  return "unknown";
}

// ------------------------------------------------------------ a session

bool Readable(ImportStatus status) {
  return status != ImportStatus::CannotOpen && status != ImportStatus::OutOfMemory &&
         status != ImportStatus::UnknownCodePage;
}

struct Session {
  lumerca::ReadResult read;
  unsigned code_page = 1252;
  lumerca::OutputFiles files;
  lumerca::WriteResult written;
  lumerca::Picture picture;
  // The picture's boxes (x, y, width, height), fills, half flags and piece
  // indexes, the labels' places (x, y, size), the cut lines (x1, y1, x2, y2)
  // and their pieces.
  std::vector<float> boxes, labels, cuts;
  std::vector<std::uint32_t> fills, box_pieces, cut_pieces;
  std::vector<std::uint8_t> halfs;
  std::string text;  // the last JSON or text handed out
};

void Describe(Json& json, const Session& s) {
  const lumerca::ReadResult& read = s.read;
  const lumerca::Marker& m = read.marker;
  const unsigned cp = s.code_page;
  json.Open('{');
  json.Key("status").String(lumerca::ArchiveStatusWord(read.status));
  json.Key("statusText").String(lumerca::StatusText(read.status));
  json.Key("reason").String(read.reason);
  json.Key("salvage").String(read.salvage);
  json.Key("codePage").Integer(cp);
  json.Key("warnings").Open('[');
  for (const lumerca::Diagnostic& d : read.warnings) {
    json.Open('{');
    json.Key("kind").String(KindName(d.kind));
    json.Key("path").String(d.path);
    json.Key("message").String(d.message);
    json.Key("salvage").String(d.salvage);
    json.Close('}');
  }
  json.Close(']');
  if (!Readable(read.status)) {
    json.Close('}');
    return;
  }

  // The order, as the model-and-order file writes it.
  json.Key("header");
  Record(json, m.Header(), cp);
  json.Key("order").Open('{');
  json.Key("name").String(lumerca::ToUtf8(m.Name(), cp));
  json.Key("storedName").String(lumerca::ToUtf8(m.Header().Name, cp));
  json.Key("widthMm").Number(static_cast<double>(m.Header().Width));
  json.Key("widthInches").Number(m.WidthInches());
  json.Key("scaleX").Number(static_cast<double>(m.Header().ScaleX));
  json.Key("scaleY").Number(static_cast<double>(m.Header().ScaleY));
  json.Key("scaleXPercent").Number(m.ScaleXPercent());
  json.Key("scaleYPercent").Number(m.ScaleYPercent());
  json.Key("pieces").Integer(static_cast<long long>(m.PieceCount()));
  json.Close('}');
  const auto sizes = m.Sizes().Records;
  std::vector<std::size_t> listed(sizes.size(), 0), halfs(sizes.size(), 0);
  for (const lumerca::Piece& piece : m.Pieces()) {
    if (!piece.size_index || *piece.size_index < 0 ||
        static_cast<std::size_t>(*piece.size_index) >= sizes.size()) {
      continue;
    }
    ++(piece.half ? halfs : listed)[static_cast<std::size_t>(*piece.size_index)];
  }
  const auto models = m.Models();
  json.Key("sizes").Open('[');
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    json.Open('{');
    json.Key("index").Integer(static_cast<long long>(i));
    json.Key("number").Integer(sizes[i].SizeNumber);
    json.Key("name").String(lumerca::ToUtf8(sizes[i].Name, cp));
    json.Key("pieces").Integer(static_cast<long long>(listed[i]));
    json.Key("halfPieces").Integer(static_cast<long long>(halfs[i]));
    if (i < models.size()) {
      json.Key("model").String(lumerca::ToUtf8(models[i].model_name, cp));
      json.Key("modelKind").String(models[i].kind == lumerca::SizeModel::Kind::New    ? "new"
                                   : models[i].kind == lumerca::SizeModel::Kind::Same ? "same"
                                                                                       : "empty");
    }
    json.Close('}');
  }
  json.Close(']');

  json.Key("written").Open('{');
  json.Key("status").String(lumerca::ArchiveStatusWord(s.written.status));
  json.Key("statusText").String(lumerca::StatusText(s.written.status));
  json.Key("reason").String(s.written.reason);
  json.Key("name").String(lumerca::ToUtf8(s.written.name, cp));
  json.Key("sizes").Integer(static_cast<long long>(s.written.counts.sizes));
  json.Key("pieces").Integer(static_cast<long long>(s.written.counts.pieces));
  json.Key("cutLines").Integer(static_cast<long long>(s.written.counts.cut_lines));
  json.Close('}');

  // The picture, but for its boxes and cut lines (see lm_array).
  const lumerca::Picture& p = s.picture;
  json.Key("picture").Open('{');
  json.Key("width").Number(p.width);
  json.Key("height").Number(p.height);
  json.Key("scale").Number(p.scale);
  json.Key("left").Number(p.left);
  json.Key("top").Number(p.top);
  json.Key("minX").Number(p.min_x);
  json.Key("maxY").Number(p.max_y);
  json.Key("title").String(p.title);
  json.Key("titleX").Number(p.title_x);
  json.Key("titleY").Number(p.title_y);
  json.Key("summary").String(p.summary);
  json.Key("summaryX").Number(p.summary_x);
  json.Key("summaryY").Number(p.summary_y);
  json.Key("frame").Bool(p.frame);
  json.Key("frameX").Number(p.frame_x);
  json.Key("frameY").Number(p.frame_y);
  json.Key("frameWidth").Number(p.frame_width);
  json.Key("frameHeight").Number(p.frame_height);
  json.Key("legendX").Number(p.legend_x);
  json.Key("legendY").Number(p.legend_y);
  json.Key("legend").Open('[');
  for (const lumerca::PictureLegendEntry& e : p.legend) {
    using Kind = lumerca::PictureLegendEntry::Kind;
    json.Open('{');
    json.Key("kind").String(e.kind == Kind::Size     ? "size"
                            : e.kind == Kind::More   ? "more"
                            : e.kind == Kind::Half   ? "half"
                            : e.kind == Kind::Cut    ? "cut"
                                                     : "no size");
    json.Key("x").Number(e.x);
    json.Key("y").Number(e.y);
    json.Key("colour").Integer(e.colour);
    json.Key("text").String(e.text);
    json.Close('}');
  }
  json.Close(']');
  json.Key("labels").Open('[');
  for (const lumerca::PictureBox& b : p.boxes) json.Item().String(b.label);
  json.Close(']');
  json.Key("boxSizes").Open('[');
  for (const lumerca::PictureBox& b : p.boxes) {
    json.Item();
    if (b.size_number) {
      json.Integer(*b.size_number);
    } else {
      json.Raw("null");
    }
  }
  json.Close(']');
  json.Key("halfs").Integer(static_cast<long long>(p.halfs));
  json.Key("leftOut").Integer(static_cast<long long>(p.left_out));
  json.Close('}');

  using S = lumerca::PictureStyle;
  json.Key("style").Open('{');
  json.Key("fontFamily").String(S::kFontFamily);
  json.Key("background").Integer(S::kBackground);
  json.Key("titleFontSize").Number(S::kTitleFontSize);
  json.Key("subtitleFontSize").Number(S::kSubtitleFontSize);
  json.Key("subtitleColour").Integer(S::kSubtitleColour);
  json.Key("frameFill").Integer(S::kFrameFill);
  json.Key("frameStroke").Integer(S::kFrameStroke);
  json.Key("frameStrokeWidth").Number(S::kFrameStrokeWidth);
  json.Key("pieceStroke").Integer(S::kPieceStroke);
  json.Key("pieceStrokeWidth").Number(S::kPieceStrokeWidth);
  json.Key("halfOpacity").Number(S::kHalfOpacity);
  json.Key("halfDash").Number(S::kHalfDash);
  json.Key("halfGap").Number(S::kHalfGap);
  json.Key("cutColour").Integer(S::kCutColour);
  json.Key("cutWidth").Number(S::kCutWidth);
  json.Key("labelColour").Integer(S::kLabelColour);
  json.Key("legendFontSize").Number(S::kLegendFontSize);
  json.Key("swatchSize").Number(S::kSwatchSize);
  json.Close('}');
  json.Close('}');
}

// Writes both files with `name` (bytes in the code page; empty: the stored one).
void Write(Session& s, std::string_view name) {
  lumerca::WriteOptions options;
  options.name = std::string(name);
  s.written = lumerca::WriteMarker(s.read.marker, s.files, options);
}

void Draw(Session& s) {
  s.picture = lumerca::DrawMarker(s.read.marker);
  const lumerca::Picture& p = s.picture;
  s.boxes.reserve(4 * p.boxes.size());
  s.labels.reserve(3 * p.boxes.size());
  s.fills.reserve(p.boxes.size());
  s.box_pieces.reserve(p.boxes.size());
  s.halfs.reserve(p.boxes.size());
  for (const lumerca::PictureBox& b : p.boxes) {
    s.boxes.insert(s.boxes.end(), {static_cast<float>(b.x), static_cast<float>(b.y),
                                   static_cast<float>(b.width), static_cast<float>(b.height)});
    s.labels.insert(s.labels.end(), {static_cast<float>(b.label_x), static_cast<float>(b.label_y),
                                     static_cast<float>(b.label_size)});
    s.fills.push_back(b.fill);
    s.box_pieces.push_back(static_cast<std::uint32_t>(b.piece));
    s.halfs.push_back(b.half ? 1 : 0);
  }
  s.cuts.reserve(4 * p.cuts.size());
  s.cut_pieces.reserve(p.cuts.size());
  for (const lumerca::PictureCut& c : p.cuts) {
    s.cuts.insert(s.cuts.end(), {static_cast<float>(c.x1), static_cast<float>(c.y1),
                                 static_cast<float>(c.x2), static_cast<float>(c.y2)});
    s.cut_pieces.push_back(static_cast<std::uint32_t>(c.piece));
  }
}

// Each character of a code page and its bytes, asked of the library's
// decoding one byte and one pair of bytes at a time.
const std::map<char32_t, std::string>& Encoding(unsigned code_page) {
  static std::map<unsigned, std::map<char32_t, std::string>> encodings;
  auto [at, made] = encodings.try_emplace(code_page);
  if (!made) return at->second;
  auto decode_one = [&](const std::string& bytes, char32_t& c) {
    const std::string utf8 = lumerca::ToUtf8(bytes, code_page);
    if (utf8 == "\xEF\xBF\xBD" || utf8.empty()) return false;
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
    if (utf8.size() == 1) {
      c = b(0);
    } else if (utf8.size() == 2 && (b(0) & 0xE0) == 0xC0) {
      c = static_cast<char32_t>((b(0) & 0x1F) << 6 | (b(1) & 0x3F));
    } else if (utf8.size() == 3 && (b(0) & 0xF0) == 0xE0) {
      c = static_cast<char32_t>((b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F));
    } else {
      return false;
    }
    return true;
  };
  std::array<bool, 256> single{};
  for (unsigned b = 1; b < 256; ++b) {
    char32_t c = 0;
    const std::string bytes(1, static_cast<char>(b));
    if (decode_one(bytes, c)) {
      at->second.try_emplace(c, bytes);
      single[b] = true;
    }
  }
  for (unsigned lead = 0x80; lead < 256; ++lead) {
    if (single[lead]) continue;
    for (unsigned trail = 0x21; trail < 256; ++trail) {
      char32_t c = 0;
      const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
      if (decode_one(bytes, c)) at->second.try_emplace(c, bytes);
    }
  }
  return at->second;
}

// `utf8` in the bytes of `code_page`; false (and `bad`, the character) when
// it has a character that the code page does not hold.
bool Encode(std::string_view utf8, unsigned code_page, std::string& bytes, std::string& bad) {
  const auto& encoding = Encoding(code_page);
  bytes.clear();
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = b0 < 0x80 ? 1 : b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? b0 : length == 2 ? (b0 & 0x1F) : length == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
      c = c << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    const auto found = encoding.find(c);
    if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
    } else if (found != encoding.end()) {
      bytes += found->second;
    } else {
      bad = std::string(utf8.substr(i, length));
      return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

extern "C" {

// Reads the `size` bytes at `bytes` (which the caller frees) in `code_page`,
// with salvage when asked. Null only when memory ran out.
EMSCRIPTEN_KEEPALIVE Session* lm_open(const std::byte* bytes, std::size_t size, unsigned code_page,
                                      int salvage) {
  try {
    auto s = std::make_unique<Session>();
    s->code_page = code_page;
    lumerca::ReadOptions options;
    options.code_page = code_page;
    options.salvage = salvage != 0;
    s->read = lumerca::ReadMarker(std::span<const std::byte>(bytes, size), options);
    return s.release();
  } catch (...) {
    return nullptr;
  }
}

EMSCRIPTEN_KEEPALIVE void lm_close(Session* s) { delete s; }

// Writes both files with the name `name` (UTF-8, written in the session's
// code page; null or empty: the stored name). Returns JSON: the write's
// status, reason and name, or the character that the code page does not hold.
EMSCRIPTEN_KEEPALIVE const char* lm_write(Session* s, const char* name) {
  Json json;
  try {
    std::string bytes, bad;
    json.Open('{');
    if (!Readable(s->read.status)) {
      json.Key("status").String(lumerca::ArchiveStatusWord(s->read.status));
    } else if (name != nullptr && !Encode(name, s->code_page, bytes, bad)) {
      json.Key("bad").String(bad);
    } else {
      Write(*s, bytes);
      json.Key("status").String(lumerca::ArchiveStatusWord(s->written.status));
      json.Key("reason").String(s->written.reason);
      json.Key("name").String(lumerca::ToUtf8(s->written.name, s->code_page));
    }
    json.Close('}');
    s->text = json.str();
  } catch (...) {
    s->text = "null";
  }
  return s->text.c_str();
}

// Draws the picture of what was read.
EMSCRIPTEN_KEEPALIVE int lm_draw(Session* s) {
  try {
    if (Readable(s->read.status)) Draw(*s);
    return 1;
  } catch (...) {
    return 0;
  }
}

// What was read, written and drawn, as JSON (see Describe).
EMSCRIPTEN_KEEPALIVE const char* lm_describe(Session* s) {
  try {
    Json json;
    Describe(json, *s);
    s->text = json.str();
  } catch (...) {
    s->text = "null";
  }
  return s->text.c_str();
}

// A piece's record and what the files derive from it, as JSON.
EMSCRIPTEN_KEEPALIVE const char* lm_piece(Session* s, std::size_t index) {
  try {
    const lumerca::Marker& m = s->read.marker;
    if (index >= m.PieceCount()) return "null";
    const lumerca::Piece piece = m.PieceAt(index);
    const unsigned cp = s->code_page;
    Json json;
    json.Open('{');
    json.Key("index").Integer(static_cast<long long>(piece.index));
    json.Key("record");
    Record(json, piece.record, cp);
    json.Key("half").Bool(piece.half);
    json.Key("written").Bool(piece.written);
    json.Key("sizeIndex");
    piece.size_index ? json.Integer(*piece.size_index) : json.Raw("null");
    json.Key("classIndex");
    piece.class_index ? json.Integer(*piece.class_index) : json.Raw("null");
    json.Key("sizeNumber");
    piece.size_number ? json.Integer(*piece.size_number) : json.Raw("null");
    json.Key("className");
    piece.class_name ? json.String(lumerca::ToUtf8(*piece.class_name, cp)) : json.Raw("null");
    json.Key("writtenName").String(lumerca::ToUtf8(piece.written_name, cp));
    json.Key("centre").Open('[').Item().Number(piece.centre_x).Item().Number(piece.centre_y).Close(']');
    json.Key("extent").Open('[').Item().Number(piece.extent_x).Item().Number(piece.extent_y).Close(']');
    json.Key("cutsElement").Integer(piece.cuts_element);
    json.Key("cutLines").Open('[');
    for (const lumerca::CutLine& c : piece.cut_lines) {
      json.Open('[');
      json.Item().Number(static_cast<double>(c.A1)).Item().Number(static_cast<double>(c.B1));
      json.Item().Number(static_cast<double>(c.A2)).Item().Number(static_cast<double>(c.B2));
      json.Item().Integer(c.Side);
      json.Close(']');
    }
    json.Close(']');
    json.Close('}');
    s->text = json.str();
  } catch (...) {
    s->text = "null";
  }
  return s->text.c_str();
}

// The picture's arrays and the files: where they are and how many bytes.
enum Array { kBoxes, kFills, kHalfs, kBoxPieces, kLabels, kCuts, kCutPieces, kCsvimprt, kPosimport };

EMSCRIPTEN_KEEPALIVE const void* lm_array(Session* s, int which) {
  switch (which) {
    case kBoxes: return s->boxes.data();
    case kFills: return s->fills.data();
    case kHalfs: return s->halfs.data();
    case kBoxPieces: return s->box_pieces.data();
    case kLabels: return s->labels.data();
    case kCuts: return s->cuts.data();
    case kCutPieces: return s->cut_pieces.data();
    case kCsvimprt: return s->files.csvimprt.data();
    case kPosimport: return s->files.posimport.data();
  }
  return nullptr;
}

EMSCRIPTEN_KEEPALIVE std::size_t lm_array_bytes(Session* s, int which) {
  switch (which) {
    case kBoxes: return s->boxes.size() * sizeof(float);
    case kFills: return s->fills.size() * sizeof(std::uint32_t);
    case kHalfs: return s->halfs.size();
    case kBoxPieces: return s->box_pieces.size() * sizeof(std::uint32_t);
    case kLabels: return s->labels.size() * sizeof(float);
    case kCuts: return s->cuts.size() * sizeof(float);
    case kCutPieces: return s->cut_pieces.size() * sizeof(std::uint32_t);
    case kCsvimprt: return s->files.csvimprt.size();
    case kPosimport: return s->files.posimport.size();
  }
  return 0;
}

// The picture as SVG: what lumerca-import --svg writes.
EMSCRIPTEN_KEEPALIVE const char* lm_svg(Session* s) {
  try {
    s->text = lumerca::PictureSvg(s->picture);
  } catch (...) {
    s->text.clear();
  }
  return s->text.c_str();
}

// `size` bytes in `code_page` as UTF-8 (the files' text for the page).
EMSCRIPTEN_KEEPALIVE const char* lm_text(Session* s, const char* bytes, std::size_t size) {
  try {
    s->text = lumerca::ToUtf8(std::string_view(bytes, size), s->code_page);
  } catch (...) {
    s->text.clear();
  }
  return s->text.c_str();
}

EMSCRIPTEN_KEEPALIVE std::size_t lm_text_bytes(Session* s) { return s->text.size(); }

// Whether the `size` bytes in the session's code page, as UTF-8, are those
// bytes themselves: ASCII, in a code page that maps ASCII to itself (the
// files nearly always are, so that the page needs no second copy of them).
EMSCRIPTEN_KEEPALIVE int lm_text_is_bytes(Session* s, const char* bytes, std::size_t size) {
  try {
    static std::map<unsigned, bool> ascii_as_itself;
    auto [at, made] = ascii_as_itself.try_emplace(s->code_page, false);
    if (made) {
      std::string ascii(0x80, '\0');
      for (std::size_t c = 0; c < ascii.size(); ++c) ascii[c] = static_cast<char>(c);
      at->second = lumerca::ToUtf8(ascii, s->code_page) == ascii;
    }
    if (!at->second) return 0;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {  // eight bytes at a time
      std::uint64_t word;
      std::memcpy(&word, bytes + i, 8);
      if (word & 0x8080808080808080U) return 0;
    }
    for (; i < size; ++i) {
      if (static_cast<unsigned char>(bytes[i]) >= 0x80) return 0;
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

EMSCRIPTEN_KEEPALIVE int lm_supported(unsigned code_page) {
  return lumerca::IsSupportedCodePage(code_page) ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE const char* lm_version() { return lumerca::Version(); }

}  // extern "C"
