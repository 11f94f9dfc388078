// lumerca_marker._core: the Python package's binding of the public C++ API
// (<lumerca/marker.h>). It stays thin: each function calls the API with the
// GIL released and hands back plain values (statuses as words, texts as str,
// tables as numpy arrays); lumerca_marker/*.py turns them into the package's
// objects and exceptions.

#include <lumerca/archive.h>
#include <lumerca/marker.h>
#include <lumerca/model.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

// The status as the package names it (lumerca_marker.errors maps each to
// its exception): the report's words.
const char* StatusWord(lumerca::ImportStatus status) { return lumerca::ArchiveStatusWord(status); }

const char* KindWord(lumerca::Diagnostic::Kind kind) {
  using K = lumerca::Diagnostic::Kind;
  switch (kind) {
    case K::StreamDamaged: return "stream damaged";
    case K::StreamSkipped: return "stream skipped";
    case K::StorageUnreadable: return "storage unreadable";
    case K::StreamUnreadable: return "stream unreadable";
    case K::EnumerationFailed: return "enumeration failed";
    case K::ImportFailed: return "import failed";
  }
  return "unknown";
}

// Diagnostics as (kind, path, message, salvage) tuples.
py::list Diagnostics(const std::vector<lumerca::Diagnostic>& diagnostics) {
  py::list out;
  for (const auto& d : diagnostics) {
    out.append(py::make_tuple(KindWord(d.kind), d.path, d.message, d.salvage));
  }
  return out;
}

py::dict Counts(const lumerca::ImportCounts& counts) {
  py::dict out;
  out["sizes"] = counts.sizes;
  out["pieces"] = counts.pieces;
  out["cut_lines"] = counts.cut_lines;
  return out;
}

// A path from Python: the bytes of os.fsencode(), as the system takes them.
std::filesystem::path PathOf(const py::bytes& path) {
  return std::filesystem::path(std::string(path));
}

// A text of the marker (bytes in its code page) as str.
py::str Text(std::string_view text, unsigned code_page) {
  const std::string utf8 = lumerca::ToUtf8(text, code_page);
  return py::str(utf8.data(), utf8.size());
}

// ---------------------------------------------------------------- columns

// A column under construction: a numpy array of the field's type, or a list
// of bytes (a Raw field) or of str (a text).
struct Column {
  std::string name;
  py::object values;
  void* data = nullptr;  // the array's elements (numbers only)
};

template <class T>
struct IsByteArray : std::false_type {};
template <std::size_t N>
struct IsByteArray<std::array<std::uint8_t, N>> : std::true_type {};

// The columns of every field of Record, one row per record: ForEachField
// names the fields and gives their types, so that a field added to a list of
// <lumerca/fields.h> becomes a column here without a change.
template <class Record, class Get>
void AddRecordColumns(py::dict& out, std::size_t rows, Get&& get, unsigned code_page) {
  std::vector<Column> columns;
  lumerca::ForEachField(Record{}, [&](const char* name, const auto& value) {
    using T = std::decay_t<decltype(value)>;
    Column column{name, py::none(), nullptr};
    if constexpr (std::is_arithmetic_v<T>) {
      py::array_t<T> array(static_cast<py::ssize_t>(rows));
      column.data = array.mutable_data();
      column.values = std::move(array);
    } else {
      column.values = py::list(rows);
    }
    columns.push_back(std::move(column));
  });
  for (std::size_t row = 0; row < rows; ++row) {
    std::size_t k = 0;
    lumerca::ForEachField(get(row), [&](const char*, const auto& value) {
      using T = std::decay_t<decltype(value)>;
      Column& column = columns[k++];
      if constexpr (std::is_arithmetic_v<T>) {
        static_cast<T*>(column.data)[row] = value;
      } else if constexpr (IsByteArray<T>::value) {
        PyList_SET_ITEM(column.values.ptr(), static_cast<py::ssize_t>(row),
                        py::bytes(reinterpret_cast<const char*>(value.data()), value.size()).release().ptr());
      } else {
        static_assert(std::is_same_v<T, std::string>, "a field is a number, bytes or a text");
        PyList_SET_ITEM(column.values.ptr(), static_cast<py::ssize_t>(row),
                        Text(value, code_page).release().ptr());
      }
    });
  }
  for (Column& column : columns) out[py::str(column.name)] = std::move(column.values);
}

// One record's fields by their names, as Python values.
template <class Record>
py::dict RecordDict(const Record& record, unsigned code_page) {
  py::dict out;
  lumerca::ForEachField(record, [&](const char* name, const auto& value) {
    using T = std::decay_t<decltype(value)>;
    if constexpr (std::is_arithmetic_v<T>) {
      out[name] = py::cast(value);
    } else if constexpr (IsByteArray<T>::value) {
      out[name] = py::bytes(reinterpret_cast<const char*>(value.data()), value.size());
    } else {
      out[name] = Text(value, code_page);
    }
  });
  return out;
}

template <class T>
py::array_t<T> Array(std::size_t rows, T*& data) {
  py::array_t<T> array(static_cast<py::ssize_t>(rows));
  data = array.mutable_data();
  return array;
}

// An integer column that may lack values: (values, mask) with mask true
// where there is none (the package makes a nullable pandas column of it).
template <class T>
struct Optional {
  T* values = nullptr;
  bool* mask = nullptr;
  py::tuple Make(std::size_t rows) {
    auto v = Array<T>(rows, values);
    auto m = Array<bool>(rows, mask);
    return py::make_tuple(v, m);
  }
  void Set(std::size_t row, const std::optional<T>& value) {
    values[row] = value.value_or(T{});
    mask[row] = !value.has_value();
  }
};

// ---------------------------------------------------------------- the marker

class PyMarker {
public:
  explicit PyMarker(lumerca::Marker marker) : marker_(std::move(marker)) {}

  const lumerca::Marker& marker() const { return marker_; }
  unsigned code_page() const { return marker_.CodePage(); }
  py::str name() const { return Text(marker_.Name(), code_page()); }
  py::bytes name_bytes() const { return py::bytes(marker_.Name()); }
  double width_inches() const { return marker_.WidthInches(); }
  double scale_x_percent() const { return marker_.ScaleXPercent(); }
  double scale_y_percent() const { return marker_.ScaleYPercent(); }
  std::size_t piece_count() const { return marker_.PieceCount(); }

  // The MARKER header's fields by their names.
  py::dict header() const { return RecordDict(marker_.Header(), code_page()); }

  // The sizes: the SIZES records' fields and, where the cross-references
  // hold, each size's model as the model-and-order file lists it.
  py::dict sizes() const {
    lumerca::Table<lumerca::SizeRecord> table;
    std::vector<lumerca::SizeModel> models;
    {
      py::gil_scoped_release release;
      table = marker_.Sizes();
      models = marker_.Models();
    }
    const std::size_t rows = table.Records.size();
    const bool have_models = models.size() == rows;
    py::dict out;
    std::int64_t* index = nullptr;
    Optional<std::int64_t> piece_count;
    out["index"] = Array(rows, index);
    py::list model_name(rows), kind(rows);
    out["model_name"] = model_name;
    out["model"] = kind;
    out["pieces"] = piece_count.Make(rows);
    for (std::size_t i = 0; i < rows; ++i) {
      index[i] = static_cast<std::int64_t>(i);
      if (have_models) {
        const lumerca::SizeModel& m = models[i];
        model_name[i] = Text(m.model_name, code_page());
        kind[i] = m.kind == lumerca::SizeModel::Kind::New    ? "new"
                  : m.kind == lumerca::SizeModel::Kind::Same ? "same"
                                                             : "empty";
        piece_count.Set(i, static_cast<std::int64_t>(m.pieces));
      } else {
        model_name[i] = py::none();
        kind[i] = py::none();
        piece_count.Set(i, std::nullopt);
      }
    }
    AddRecordColumns<lumerca::SizeRecord>(
        out, rows, [&](std::size_t i) -> const lumerca::SizeRecord& { return table.Records[i]; }, code_page());
    return out;
  }

  // The classes: each record's fields and the name as the files write it.
  py::dict classes() const {
    lumerca::Table<lumerca::ClassRecord> table;
    {
      py::gil_scoped_release release;
      table = marker_.Classes();
    }
    const std::size_t rows = table.Records.size();
    py::dict out;
    std::int64_t* index = nullptr;
    out["index"] = Array(rows, index);
    py::list written(rows);
    for (std::size_t i = 0; i < rows; ++i) {
      index[i] = static_cast<std::int64_t>(i);
      written[i] = Text(lumerca::NormalizedName(table.Records[i].Name, code_page()), code_page());
    }
    out["written_name"] = written;
    AddRecordColumns<lumerca::ClassRecord>(
        out, rows, [&](std::size_t i) -> const lumerca::ClassRecord& { return table.Records[i]; }, code_page());
    return out;
  }

  // The pieces and their cut lines as two sets of columns: what the files
  // derive (lower-case names) and the stored records' fields (their own
  // names).
  py::tuple pieces() const {
    std::vector<lumerca::Piece> pieces;
    std::vector<lumerca::CutsElement> splits;
    {
      py::gil_scoped_release release;
      pieces = marker_.Pieces();
      splits = marker_.Splits();
    }
    const unsigned cp = code_page();
    const std::size_t rows = pieces.size();
    std::size_t lines = 0;
    for (const auto& piece : pieces) lines += piece.cut_lines.size();

    py::dict p;
    std::int64_t* index = nullptr;
    bool* half = nullptr;
    bool* written = nullptr;
    Optional<std::int16_t> size_index, class_index;
    Optional<std::uint8_t> size_number;
    double *centre_x = nullptr, *centre_y = nullptr, *extent_x = nullptr, *extent_y = nullptr;
    std::int32_t* cuts_element = nullptr;
    std::int64_t* cut_lines = nullptr;
    p["index"] = Array(rows, index);
    p["half"] = Array(rows, half);
    p["written"] = Array(rows, written);
    p["size_index"] = size_index.Make(rows);
    p["class_index"] = class_index.Make(rows);
    p["size_number"] = size_number.Make(rows);
    py::list class_name(rows), written_name(rows);
    p["class_name"] = class_name;
    p["written_name"] = written_name;
    p["centre_x"] = Array(rows, centre_x);
    p["centre_y"] = Array(rows, centre_y);
    p["extent_x"] = Array(rows, extent_x);
    p["extent_y"] = Array(rows, extent_y);
    p["cuts_element"] = Array(rows, cuts_element);
    p["cut_lines"] = Array(rows, cut_lines);
    for (std::size_t i = 0; i < rows; ++i) {
      const lumerca::Piece& piece = pieces[i];
      index[i] = static_cast<std::int64_t>(piece.index);
      half[i] = piece.half;
      written[i] = piece.written;
      size_index.Set(i, piece.size_index);
      class_index.Set(i, piece.class_index);
      size_number.Set(i, piece.size_number);
      class_name[i] = piece.class_name ? py::object(Text(*piece.class_name, cp)) : py::object(py::none());
      written_name[i] = Text(piece.written_name, cp);
      centre_x[i] = piece.centre_x;
      centre_y[i] = piece.centre_y;
      extent_x[i] = piece.extent_x;
      extent_y[i] = piece.extent_y;
      cuts_element[i] = piece.cuts_element;
      cut_lines[i] = static_cast<std::int64_t>(piece.cut_lines.size());
    }
    AddRecordColumns<lumerca::PieceRecord>(
        p, rows, [&](std::size_t i) -> const lumerca::PieceRecord& { return pieces[i].record; }, cp);

    // One row per cut line, in piece order: the line as the position file
    // writes it, then the stored record it comes from.
    py::dict c;
    std::int64_t *piece_of = nullptr, *line_of = nullptr;
    float *a1 = nullptr, *b1 = nullptr, *a2 = nullptr, *b2 = nullptr;
    std::int8_t* side = nullptr;
    double* offset = nullptr;
    c["piece"] = Array(lines, piece_of);
    c["line"] = Array(lines, line_of);
    c["a1"] = Array(lines, a1);
    c["b1"] = Array(lines, b1);
    c["a2"] = Array(lines, a2);
    c["b2"] = Array(lines, b2);
    c["side"] = Array(lines, side);
    std::vector<const lumerca::SplitRecord*> stored;
    stored.reserve(lines);
    {
      py::gil_scoped_release release;
      std::size_t row = 0;
      for (const auto& piece : pieces) {
        if (piece.cut_lines.empty()) continue;
        // The view takes a piece's lines from its element's records, one
        // for one (a piece with cut lines has an element).
        const auto& element = splits.at(static_cast<std::size_t>(piece.cuts_element));
        for (std::size_t j = 0; j < piece.cut_lines.size(); ++j, ++row) {
          const lumerca::CutLine& line = piece.cut_lines[j];
          piece_of[row] = static_cast<std::int64_t>(piece.index);
          line_of[row] = static_cast<std::int64_t>(j);
          a1[row] = line.A1;
          b1[row] = line.B1;
          a2[row] = line.A2;
          b2[row] = line.B2;
          side[row] = static_cast<std::int8_t>(line.Side);
          stored.push_back(&element.Splits.at(j));
        }
      }
    }
    AddRecordColumns<lumerca::SplitRecord>(
        c, lines, [&](std::size_t i) -> const lumerca::SplitRecord& { return *stored[i]; }, cp);
    c["Offset"] = Array(lines, offset);
    for (std::size_t i = 0; i < lines; ++i) offset[i] = stored[i]->Offset;
    return py::make_tuple(p, c);
  }

  // Writes the two files into `folder`: (status, reason, name, counts).
  py::tuple write(const py::bytes& folder, const std::string& name) const {
    const std::filesystem::path path = PathOf(folder);
    lumerca::WriteOptions options;
    options.name = name;
    lumerca::WriteResult result;
    {
      py::gil_scoped_release release;
      result = lumerca::WriteMarker(marker_, path, options);
    }
    return py::make_tuple(StatusWord(result.status), result.reason,
                          Text(result.name, code_page()), Counts(result.counts));
  }

  // The two files' bytes: (status, reason, name, counts, csvimprt, posimport).
  py::tuple files(const std::string& name) const {
    lumerca::WriteOptions options;
    options.name = name;
    lumerca::OutputFiles files;
    lumerca::WriteResult result;
    {
      py::gil_scoped_release release;
      result = lumerca::WriteMarker(marker_, files, options);
    }
    return py::make_tuple(StatusWord(result.status), result.reason, Text(result.name, code_page()),
                          Counts(result.counts), py::bytes(files.csvimprt), py::bytes(files.posimport));
  }

private:
  lumerca::Marker marker_;
};

// (status, reason, salvage, warnings, marker) of a read.
py::tuple Outcome(lumerca::ReadResult&& read) {
  return py::make_tuple(StatusWord(read.status), read.reason, read.salvage, Diagnostics(read.warnings),
                        PyMarker(std::move(read.marker)));
}

lumerca::ReadOptions Options(unsigned code_page, bool salvage) {
  lumerca::ReadOptions options;
  options.code_page = code_page;
  options.salvage = salvage;
  return options;
}

py::tuple ReadPath(const py::bytes& path, unsigned code_page, bool salvage) {
  const std::filesystem::path file = PathOf(path);
  lumerca::ReadResult read;
  {
    py::gil_scoped_release release;
    read = lumerca::ReadMarker(file, Options(code_page, salvage));
  }
  return Outcome(std::move(read));
}

py::tuple ReadBuffer(const py::buffer& source, unsigned code_page, bool salvage) {
  // A contiguous view of the bytes, held (and the object kept from
  // resizing) until the read is done.
  Py_buffer view;
  if (PyObject_GetBuffer(source.ptr(), &view, PyBUF_C_CONTIGUOUS) != 0) throw py::error_already_set();
  lumerca::ReadResult read;
  {
    py::gil_scoped_release release;
    const std::span<const std::byte> bytes(static_cast<const std::byte*>(view.buf),
                                           static_cast<std::size_t>(view.len));
    read = lumerca::ReadMarker(bytes, Options(code_page, salvage));
  }
  PyBuffer_Release(&view);
  return Outcome(std::move(read));
}

// ImportMarker: (status, name, counts, diagnostics).
py::tuple Import(const py::bytes& path, const py::bytes& folder, const std::string& name, unsigned code_page,
                 bool salvage) {
  const std::filesystem::path file = PathOf(path);
  const std::filesystem::path out = PathOf(folder);
  lumerca::ImportOptions options;
  options.code_page = code_page;
  options.salvage = salvage;
  lumerca::ImportResult result;
  {
    py::gil_scoped_release release;
    result = lumerca::ImportMarker(file, name, out, options);
  }
  return py::make_tuple(StatusWord(result.status), Text(result.name, code_page), Counts(result.counts),
                        Diagnostics(result.diagnostics));
}

// ---------------------------------------------------------------- archives

// An archive's entry as the package passes it around (to other processes
// and machines too): (path, open, folder, skip reason, skip group), the
// paths as bytes.
py::tuple EntryTuple(const lumerca::ArchiveEntry& entry) {
  return py::make_tuple(py::bytes(entry.path.string()), py::bytes(entry.open.string()),
                        py::bytes(entry.folder.string()), entry.skip_reason, entry.skip_group);
}

lumerca::ArchiveEntry EntryOf(const py::sequence& tuple) {
  if (tuple.size() != 5) throw py::value_error("an archive entry has 5 fields");
  lumerca::ArchiveEntry entry;
  entry.path = PathOf(tuple[0].cast<py::bytes>());
  entry.open = PathOf(tuple[1].cast<py::bytes>());
  entry.folder = PathOf(tuple[2].cast<py::bytes>());
  entry.skip_reason = tuple[3].cast<std::string>();
  entry.skip_group = tuple[4].cast<std::string>();
  return entry;
}

py::list PathList(const std::vector<std::filesystem::path>& paths) {
  py::list out;
  for (const auto& path : paths) out.append(py::bytes(path.string()));
  return out;
}

// ListArchive: (entries, notes as bytes, several, complete, out of memory).
py::tuple ListArchive(const std::vector<py::bytes>& inputs, const py::bytes& output, const py::bytes& leave_out) {
  std::vector<std::filesystem::path> paths;
  for (const auto& input : inputs) paths.push_back(PathOf(input));
  const std::filesystem::path out = PathOf(output);
  lumerca::ArchiveListOptions options;
  options.leave_out = PathOf(leave_out);
  lumerca::ArchiveListing listing;
  {
    py::gil_scoped_release release;
    listing = lumerca::ListArchive(paths, out, options);
  }
  py::list entries, notes;
  for (const auto& entry : listing.entries) entries.append(EntryTuple(entry));
  for (const auto& note : listing.notes) notes.append(py::bytes(note));
  return py::make_tuple(entries, notes, listing.several, listing.complete, listing.out_of_memory);
}

// ConvertArchiveEntry on each entry in turn, the GIL released while it runs:
// a list of rows (the report's fields as bytes, the status, the notes as
// bytes, the folders made as bytes).
// With `deferred`, pairs into folders that held none are recorded there for
// one flush of the whole run instead of being flushed one by one.
py::list ConvertArchiveEntries(const py::list& entries, const std::string& name, unsigned code_page,
                               bool salvage, lumerca::DeferredFlush* deferred) {
  lumerca::ArchiveConvertOptions options;
  options.name = name;
  options.import.code_page = code_page;
  options.import.salvage = salvage;
  options.import.deferred = deferred;
  py::list rows;
  for (const py::handle& item : entries) {
    const lumerca::ArchiveEntry entry = EntryOf(item.cast<py::sequence>());
    lumerca::ArchiveRow row;
    std::array<std::string, lumerca::kArchiveReportColumns> fields;
    {
      py::gil_scoped_release release;
      row = lumerca::ConvertArchiveEntry(entry, options);
      fields = lumerca::ArchiveReportFields(row);
    }
    py::list field_list, notes;
    for (const auto& field : fields) field_list.append(py::bytes(field));
    for (const auto& note : row.notes) notes.append(py::bytes(note));
    rows.append(py::make_tuple(field_list, StatusWord(row.status), notes, PathList(row.made)));
  }
  return rows;
}

// MakeArchiveFolder: (made it, the folders made as bytes, why not).
py::tuple MakeArchiveFolder(const py::bytes& folder) {
  const std::filesystem::path path = PathOf(folder);
  std::vector<std::filesystem::path> made;
  std::string error;
  bool ok = false;
  {
    py::gil_scoped_release release;
    ok = lumerca::MakeArchiveFolder(path, made, error);
  }
  return py::make_tuple(ok, PathList(made), error);
}

void RemoveEmptyFolders(const std::vector<py::bytes>& folders) {
  std::vector<std::filesystem::path> paths;
  for (const auto& folder : folders) paths.push_back(PathOf(folder));
  py::gil_scoped_release release;
  lumerca::RemoveEmptyFolders(std::move(paths));
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The binding of the lumerca_marker C++ library (use the lumerca_marker package).";

  py::class_<PyMarker>(m, "Marker")
      .def_property_readonly("code_page", &PyMarker::code_page)
      .def_property_readonly("name", &PyMarker::name)
      .def_property_readonly("name_bytes", &PyMarker::name_bytes)
      .def_property_readonly("width_inches", &PyMarker::width_inches)
      .def_property_readonly("scale_x_percent", &PyMarker::scale_x_percent)
      .def_property_readonly("scale_y_percent", &PyMarker::scale_y_percent)
      .def_property_readonly("piece_count", &PyMarker::piece_count)
      .def("header", &PyMarker::header)
      .def("sizes", &PyMarker::sizes)
      .def("classes", &PyMarker::classes)
      .def("pieces", &PyMarker::pieces)
      .def("write", &PyMarker::write, py::arg("folder"), py::arg("name"))
      .def("files", &PyMarker::files, py::arg("name"));

  m.def("read_path", &ReadPath, py::arg("path"), py::arg("code_page"), py::arg("salvage"));
  m.def("read_buffer", &ReadBuffer, py::arg("source"), py::arg("code_page"), py::arg("salvage"));
  m.def("import_marker", &Import, py::arg("path"), py::arg("folder"), py::arg("name"), py::arg("code_page"),
        py::arg("salvage"));
  m.def("is_supported_code_page", &lumerca::IsSupportedCodePage, py::arg("code_page"));
  m.def("status_text", [](const std::string& word) -> std::string {
    using S = lumerca::ImportStatus;
    for (S s : {S::Imported, S::CannotOpen, S::NoPieces, S::CorruptIndex, S::OutputFailed, S::OutOfMemory,
                S::Damaged, S::UnknownCodePage}) {
      if (word == StatusWord(s)) return lumerca::StatusText(s);
    }
    throw py::value_error("no such status: " + word);
  });
  m.def("version", &lumerca::Version);

  // The flush of a run's pairs, made once (see lumerca::DeferredFlush).
  py::class_<lumerca::DeferredFlush>(m, "DeferredFlush")
      .def(py::init<>())
      .def("flush",
           [](lumerca::DeferredFlush& deferred) {
             std::string reason;
             bool flushed = false;
             {
               py::gil_scoped_release release;
               flushed = deferred.Flush(reason);
             }
             return py::make_tuple(flushed, reason);
           })
      .def("pending", &lumerca::DeferredFlush::Pending);
  m.def("list_archive", &ListArchive, py::arg("inputs"), py::arg("output"), py::arg("leave_out"));
  m.def("convert_archive_entries", &ConvertArchiveEntries, py::arg("entries"), py::arg("name"),
        py::arg("code_page"), py::arg("salvage"), py::arg("deferred") = nullptr);
  m.def("make_archive_folder", &MakeArchiveFolder, py::arg("folder"));
  m.def("remove_empty_folders", &RemoveEmptyFolders, py::arg("folders"));
  m.def("archive_report_columns", [] {
    const auto columns = lumerca::ArchiveReportColumns();
    return std::vector<std::string>(columns.begin(), columns.end());
  });
}
