// filterhost and people's files: an input is known by what it is, however
// it is named; no file is replaced that was not asked for; every write is
// checked to its end; and any name a person gives works.
#include <algorithm>

#include "TestHost.h"
#include "host/files/FileJob.h"
#include "host/files/BatchNames.h"
#include "host/files/FileSystem.h"
#include "host/umbrolux/FilterRegistry.h"
#include "host/files/ImageFile.h"

namespace {

std::string Host()
{
    return Quote(BesideTests("filterhost.exe")) + " ";
}

std::string Module()
{
    return Quote(ModulePath()) + " ";
}

std::vector<uint8_t> Bytes(const std::string &path)
{
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(files::SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(file, chunk, sizeof chunk, &n, nullptr) && n > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    CloseHandle(file);
    return bytes;
}

std::string Text(const std::string &path)
{
    const std::vector<uint8_t> bytes = Bytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void PutBytes(const std::string &path, const std::string &text)
{
    HANDLE file = CreateFileW(files::SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::vector<std::string> Sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

// A folder of the test's own, made afresh, and removed with what is in it
// (one level of folders) when the test ends.
class Folder {
public:
    explicit Folder(const std::string &name) : path_(TempPath(name))
    {
        Remove();
        CreateDirectoryW(files::SystemPath(path_).c_str(), nullptr);
    }
    ~Folder() { Remove(); }
    const std::string &Path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "\\" + name; }

private:
    void Remove()
    {
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW((files::SystemPath(path_) + L"\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = entry.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                const std::wstring full = files::SystemPath(path_) + L"\\" + name;
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (!DeleteFileW(full.c_str()) && !RemoveDirectoryW(full.c_str())) {
                    // A folder of files.
                    const std::string inner = path_ + "\\" + files::Utf8(name);
                    for (const std::string &file : files::FilesIn(inner))
                        files::Delete(inner + "\\" + file);
                    RemoveDirectoryW(full.c_str());
                }
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
        RemoveDirectoryW(files::SystemPath(path_).c_str());
    }
    std::string path_;
};

Document Photo(uint32_t seed)
{
    Document photo = MakeDocument(40, 30, 3, 8, plugInModeRGBColor);
    FillTestPattern(&photo, seed);
    return photo;
}

void SavePhoto(const std::string &path, uint32_t seed = 5)
{
    std::string error;
    ASSERT_TRUE(SaveImageFile(path, Photo(seed), &error)) << error;
}

std::string ShortName(const std::string &path)
{
    const std::wstring wide = files::Wide(path);
    std::wstring shortName(32768, L'\0');
    shortName.resize(GetShortPathNameW(wide.c_str(), &shortName[0], DWORD(shortName.size())));
    return files::Utf8(shortName);
}

// A folder reached through a link, as the build made it beside the tests
// (a symbolic link, which Wine shows as the folder itself): the folder, the
// link, and a link to it that the tests empty when they are done.
struct LinkedFolder {
    std::string target = BesideTests("linked-folder-target"), link = BesideTests("linked-folder");
    LinkedFolder()
    {
        Empty();
    }
    ~LinkedFolder() { Empty(); }
    bool Ready() const { return files::IsFolder(target) && files::IsFolder(link) && files::SameFile(target, link); }
    void Empty() const
    {
        for (const std::string &name : files::FilesIn(target)) {
            SetFileAttributesW(files::SystemPath(target + "\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            files::Delete(target + "\\" + name);
        }
    }
};

} // namespace

// The input as `run`'s output, spelled every way a name can be: it is
// refused before any work, and the photograph stays as it was. So is the
// selection, and the output of `convert`.
TEST(FileSafety, RunRefusesItsInputUnderAnyName)
{
    DeleteFilterKey();
    Folder folder("identity");
    const std::string input = folder / "photograph of a cliff.png", mask = folder / "selection.png";
    SavePhoto(input);
    Document grey = MakeDocument(40, 30, 1, 8, plugInModeGrayScale);
    std::string error;
    ASSERT_TRUE(SaveImageFile(mask, grey, &error)) << error;
    CreateDirectoryW(files::SystemPath(folder / "sub").c_str(), nullptr);
    const std::vector<uint8_t> original = Bytes(input);
    ASSERT_FALSE(original.empty());

    std::vector<std::string> spellings = {
        files::Utf8(L"\\\\?\\" + files::SystemPath(input)),
        folder / "sub\\..\\photograph of a cliff.png",
        folder / "PHOTOGRAPH OF A CLIFF.PNG",
    };
    const std::string shortName = ShortName(input);
    if (!shortName.empty() && files::NameOf(shortName) != files::NameOf(input))
        spellings.push_back(shortName);
    else
        ADD_FAILURE() << "no short name for " << input;
    for (const std::string &spelling : spellings) {
        SCOPED_TRACE(spelling);
        ASSERT_TRUE(files::SameFile(spelling, input));
        ProcessResult r = RunProcess(Host() + "run " + Module() + Quote(input) + " " + Quote(spelling) + " --ok");
        EXPECT_EQ(r.exitCode, 2u) << r.output;
        EXPECT_NE(r.output.find("would replace the input"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("Filter "), std::string::npos) << "refused only after loading: " << r.output;
        r = RunProcess(Host() + "convert " + Quote(input) + " " + Quote(spelling));
        EXPECT_EQ(r.exitCode, 2u) << r.output;
        EXPECT_NE(r.output.find("would replace the input"), std::string::npos) << r.output;
        r = RunProcess(Host() + "run " + Module() + Quote(input) + " " + Quote(folder / "out.png") + " --ok --screenshot " +
                    Quote(spelling));
        EXPECT_EQ(r.exitCode, 2u) << r.output;
        EXPECT_NE(r.output.find("would replace the input"), std::string::npos) << r.output;
        EXPECT_TRUE(Bytes(input) == original) << "the input was written over";
    }
    const ProcessResult r = RunProcess(Host() + "run " + Module() + Quote(input) + " " +
                                    Quote(files::Utf8(L"\\\\?\\" + files::SystemPath(mask))) + " --selection " +
                                    Quote(mask) + " --ok");
    EXPECT_EQ(r.exitCode, 2u) << r.output;
    EXPECT_NE(r.output.find("would replace the selection"), std::string::npos) << r.output;
    EXPECT_EQ(Sorted(files::FilesIn(folder.Path())),
              (std::vector<std::string>{"photograph of a cliff.png", "selection.png"}));

    // Through a link to the input's folder.
    const LinkedFolder linked;
    ASSERT_TRUE(linked.Ready()) << "the build made no folder link at " << linked.link;
    SavePhoto(linked.target + "\\x.png");
    const std::vector<uint8_t> x = Bytes(linked.target + "\\x.png");
    const ProcessResult viaLink = RunProcess(Host() + "run " + Module() + Quote(linked.target + "\\x.png") + " " +
                                          Quote(linked.link + "\\x.png") + " --ok");
    EXPECT_EQ(viaLink.exitCode, 2u) << viaLink.output;
    EXPECT_NE(viaLink.output.find("would replace the input"), std::string::npos) << viaLink.output;
    EXPECT_TRUE(Bytes(linked.target + "\\x.png") == x) << "the input was written over";
    DeleteFilterKey();
}

// A batch into its own folder named another way (a link to it, or the
// \\?\ prefix) writes x-1.png beside x.png and loses nothing.
TEST(FileSafety, ABatchIntoItsOwnFolderByAnotherNameLosesNothing)
{
    DeleteFilterKey();
    const LinkedFolder linked;
    ASSERT_TRUE(linked.Ready()) << "the build made no folder link at " << linked.link;
    const std::string folder = linked.target;
    SavePhoto(folder + "\\x.png", 1);
    SavePhoto(folder + "\\y.png", 2);
    const std::vector<uint8_t> x = Bytes(folder + "\\x.png"), y = Bytes(folder + "\\y.png");
    for (const std::string &out : {linked.link, files::Utf8(L"\\\\?\\" + files::SystemPath(folder))}) {
        SCOPED_TRACE(out);
        const ProcessResult r =
            RunProcess(Host() + "batch " + Module() + Quote(out) + " " + Quote(folder) + " --ok --jobs 1");
        EXPECT_EQ(r.exitCode, 0u) << r.output;
        EXPECT_NE(r.output.find("x-1.png ("), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("; x.png is an input"), std::string::npos) << r.output;
        EXPECT_EQ(Sorted(files::FilesIn(folder)), (std::vector<std::string>{"x-1.png", "x.png", "y-1.png", "y.png"}));
        EXPECT_TRUE(Bytes(folder + "\\x.png") == x && Bytes(folder + "\\y.png") == y) << "an input was written over";
        files::Delete(folder + "\\x-1.png");
        files::Delete(folder + "\\y-1.png");
    }
    DeleteFilterKey();
}

// A batch replaces no file it did not write: an existing file keeps its
// name and the output takes the next (the line says why), unless
// --overwrite, which still never replaces a read-only file. `run` replaces
// the output named, but never a read-only one.
TEST(FileSafety, ExistingFilesAreReplacedOnlyWhenAskedAndNeverWhenReadOnly)
{
    DeleteFilterKey();
    Folder in("existing-in"), out("existing-out");
    SavePhoto(in / "a.png", 1);
    SavePhoto(in / "b.png", 2);
    PutBytes(out / "a.png", "someone's own file");
    PutBytes(out / "b.png", "a read-only file");
    ASSERT_TRUE(SetFileAttributesW(files::SystemPath(out / "b.png").c_str(), FILE_ATTRIBUTE_READONLY));

    ProcessResult r = RunProcess(Host() + "batch " + Module() + Quote(out.Path()) + " " + Quote(in.Path()) + " --ok");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("a-1.png (" ), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("; a.png exists"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("; b.png is read-only"), std::string::npos) << r.output;
    EXPECT_EQ(Sorted(files::FilesIn(out.Path())), (std::vector<std::string>{"a-1.png", "a.png", "b-1.png", "b.png"}));
    EXPECT_EQ(Text(out / "a.png"), "someone's own file");

    r = RunProcess(Host() + "batch " + Module() + Quote(out.Path()) + " " + Quote(in / "a.png") + " " +
                Quote(in / "b.png") + " --ok --overwrite --jobs 2");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    Document replaced;
    std::string error;
    EXPECT_TRUE(LoadImageFile(out / "a.png", &replaced, &error)) << "--overwrite replaced it: " << error;
    EXPECT_EQ(Text(out / "b.png"), "a read-only file");
    EXPECT_NE(r.output.find("; b.png is read-only"), std::string::npos) << r.output;
    EXPECT_EQ(Sorted(files::FilesIn(out.Path())), (std::vector<std::string>{"a-1.png", "a.png", "b-1.png", "b.png"}));

    // run: the read-only file is refused before any work; a writable one is
    // replaced, as asked.
    r = RunProcess(Host() + "run " + Module() + Quote(in / "a.png") + " " + Quote(out / "b.png") + " --ok");
    EXPECT_EQ(r.exitCode, 2u) << r.output;
    EXPECT_NE(r.output.find("cannot write " + out / "b.png" + ": the file is read-only"), std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("Filter "), std::string::npos) << r.output;
    EXPECT_EQ(Text(out / "b.png"), "a read-only file");
    PutBytes(out / "a.png", "someone's own file");
    r = RunProcess(Host() + "run " + Module() + Quote(in / "a.png") + " " + Quote(out / "a.png") + " --ok");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_TRUE(LoadImageFile(out / "a.png", &replaced, &error)) << error;
    DeleteFilterKey();
}

// A write that fails at any byte, for PNG and TIFF alike (the disk filling
// up): nothing under the output's name but what was there, no temporary
// file left, an exit status that is not 0, and a message that names the
// output and the cause. The fault is made at a chosen byte by the host's
// test seam.
TEST(FileSafety, AWriteThatFailsLeavesTheOlderOutputAndSaysWhy)
{
    DeleteFilterKey();
    Folder folder("full-disk");
    SavePhoto(folder / "in.png");
    std::vector<std::string> present = {"in.png"};
    for (const char *ext : {".png", ".tif", ".jpg"}) {
        const std::string out = folder / (std::string("out") + ext);
        present.push_back(std::string("out") + ext);
        SavePhoto(out, 9);
        const std::vector<uint8_t> older = Bytes(out);
        for (const char *fault : {"FILTERHOST_WRITE_FAULT=1000", "FILTERHOST_WRITE_FAULT=0",
                                  "FILTERHOST_WRITE_FAULT=300:5"}) {
            SCOPED_TRACE(std::string(ext) + " " + fault);
            const ProcessResult r =
                RunProcess(Host() + "run " + Module() + Quote(folder / "in.png") + " " + Quote(out) + " --ok", fault);
            EXPECT_EQ(r.exitCode, 2u) << r.output;
            const std::string cause = std::string(fault).find(":5") != std::string::npos ? "access is denied"
                                                                                          : "the disk is full";
            EXPECT_NE(r.output.find("cannot write " + out + ": " + cause), std::string::npos) << r.output;
            EXPECT_EQ(r.output.find("filterhost-partial"), std::string::npos) << r.output;
            EXPECT_EQ(r.output.find("Wrote"), std::string::npos) << r.output;
            EXPECT_TRUE(Bytes(out) == older) << "the older output was replaced";
            EXPECT_EQ(Sorted(files::FilesIn(folder.Path())), Sorted(present));
        }
    }
    // In a batch: that file fails, with the same words, and the batch says so.
    Folder out("full-disk-out");
    const ProcessResult r = RunProcess(Host() + "batch " + Module() + Quote(out.Path()) + " " + Quote(folder / "in.png") +
                                        " --ok --jobs 2",
                                    "FILTERHOST_WRITE_FAULT=500");
    EXPECT_EQ(r.exitCode, 1u) << r.output;
    EXPECT_NE(r.output.find("FAILED: cannot write " + out / "in.png" + ": the disk is full"), std::string::npos)
        << r.output;
    EXPECT_TRUE(files::FilesIn(out.Path()).empty());
    DeleteFilterKey();
}

// A batch whose worker processes cannot be watched on threads of their own
// (the system has none to give) filters every file on the batch's own
// thread, and says so.
TEST(FileSafety, ABatchThatCannotStartAThreadFiltersEveryFileAndSaysSo)
{
    DeleteFilterKey();
    Folder folder("no-threads"), out("no-threads-out");
    SavePhoto(folder / "a.png", 1);
    SavePhoto(folder / "b.png", 2);
    SavePhoto(folder / "c.png", 3);
    const ProcessResult r = RunProcess(Host() + "batch " + Module() + Quote(out.Path()) + " " + Quote(folder.Path()) +
                                           " --ok --jobs 2",
                                       "FILTERHOST_REFUSE_THREADS=1");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("the batch goes on with 1 worker process(es)"), std::string::npos) << r.output;
    EXPECT_EQ(Sorted(files::FilesIn(out.Path())), (std::vector<std::string>{"a.png", "b.png", "c.png"}));
    for (const char *name : {"a.png", "b.png", "c.png"}) {
        Document written;
        std::string error;
        EXPECT_TRUE(LoadImageFile(out / name, &written, &error)) << error;
    }
    DeleteFilterKey();
}

// A run killed before its output was renamed leaves only its temporary
// file, which no later batch takes as a photograph.
TEST(FileSafety, ARunKilledWhileWritingLeavesNothingABatchTakes)
{
    DeleteFilterKey();
    Folder folder("killed"), out("killed-out");
    SavePhoto(folder / "x.png");
    ProcessResult r = RunProcess(Host() + "run " + Module() + Quote(folder / "x.png") + " " + Quote(folder / "y.png") +
                                  " --ok",
                              "FILTERHOST_KILL_BEFORE_RENAME=1");
    EXPECT_EQ(r.exitCode, 9u) << r.output;
    const std::vector<std::string> left = files::FilesIn(folder.Path());
    ASSERT_EQ(left.size(), 2u);
    const std::string partial = left[0] == "x.png" ? left[1] : left[0];
    EXPECT_EQ(partial.compare(0, 7, ".y.png."), 0) << partial;
    EXPECT_NE(partial.find(".filterhost-partial"), std::string::npos) << partial;
    // So is one that an earlier version of the host left.
    PutBytes(folder / "x.partial-1234.png", "half a picture");
    EXPECT_EQ(ExpandInputs({folder.Path()}), std::vector<std::string>{folder / "x.png"});
    r = RunProcess(Host() + "batch " + Module() + Quote(out.Path()) + " " + Quote(folder.Path()) + " --ok");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("Batch: 1 of 1 file(s) filtered"), std::string::npos) << r.output;
    DeleteFilterKey();
}

// Names with accents, CJK and emoji, and paths longer than 260 characters:
// read, written, batched and printed as they are spelled.
TEST(FileSafety, AnyNameAPersonGivesWorks)
{
    DeleteFilterKey();
    Folder base("names");
    const std::string photos = base / "写真 café 📷", results = base / "出力 ñ";
    ASSERT_TRUE(CreateDirectoryW(files::SystemPath(photos).c_str(), nullptr));
    const std::vector<std::string> names = {"café ü.png", "写真.tif", "😀 smile.png"};
    for (size_t i = 0; i < names.size(); ++i)
        SavePhoto(photos + "\\" + names[i], uint32_t(i + 1));

    // run, an accented output beside a CJK input.
    const std::string out = base / "Ergebnis Größe.png";
    ProcessResult r = RunProcess(Host() + "run " + Module() + Quote(photos + "\\写真.tif") + " " + Quote(out) + " --ok");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("Document " + photos + "\\写真.tif: 40 x 30"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Wrote " + out), std::string::npos) << r.output;
    Document written;
    std::string error;
    EXPECT_TRUE(LoadImageFile(out, &written, &error)) << error;

    // batch, in this process and in workers: every file, every line named.
    for (const char *jobs : {" --jobs 1", " --jobs 2"}) {
        SCOPED_TRACE(jobs);
        r = RunProcess(Host() + "batch " + Module() + Quote(results) + " " + Quote(photos) + " --ok" + jobs);
        EXPECT_EQ(r.exitCode, 0u) << r.output;
        EXPECT_NE(r.output.find("Batch: 3 of 3 file(s) filtered, 0 failed"), std::string::npos) << r.output;
        for (const std::string &name : names)
            EXPECT_NE(r.output.find(photos + "\\" + name + ": 40 x 30"), std::string::npos) << name << r.output;
        EXPECT_EQ(Sorted(files::FilesIn(results)), Sorted(names));
        for (const std::string &name : names)
            files::Delete(results + "\\" + name);
    }
    for (const std::string &name : names)
        files::Delete(photos + "\\" + name);
    RemoveDirectoryW(files::SystemPath(photos).c_str());
    RemoveDirectoryW(files::SystemPath(results).c_str());

    // A path longer than 260 characters, for the input, the output and a
    // batch's folders.
    std::string deep = base.Path();
    for (int i = 0; deep.size() < 300; ++i) {
        deep += "\\a folder with a long name, level " + std::to_string(i);
        ASSERT_TRUE(CreateDirectoryW(files::SystemPath(deep).c_str(), nullptr)) << deep.size();
    }
    SavePhoto(deep + "\\long é.png");
    r = RunProcess(Host() + "run " + Module() + Quote(deep + "\\long é.png") + " " + Quote(deep + "\\long out.png") +
                " --ok");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_TRUE(files::Exists(deep + "\\long out.png"));
    r = RunProcess(Host() + "batch " + Module() + Quote(deep + "\\out") + " " + Quote(deep) + " --ok --jobs 1");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(Sorted(files::FilesIn(deep + "\\out")), (std::vector<std::string>{"long out.png", "long é.png"}));
    // Taken apart from the bottom up.
    for (const std::string &name : files::FilesIn(deep + "\\out"))
        files::Delete(deep + "\\out\\" + name);
    RemoveDirectoryW(files::SystemPath(deep + "\\out").c_str());
    while (deep.size() > base.Path().size()) {
        for (const std::string &name : files::FilesIn(deep))
            files::Delete(deep + "\\" + name);
        RemoveDirectoryW(files::SystemPath(deep).c_str());
        deep = files::FolderOf(deep);
    }
    DeleteFilterKey();
}

// What stands under an output's name that is no file: a folder, told in
// those words before any work.
TEST(FileSafety, AFolderWhereTheOutputShouldBeIsNamed)
{
    Folder folder("folder-output");
    SavePhoto(folder / "in.png");
    ASSERT_TRUE(CreateDirectoryW(files::SystemPath(folder / "out.png").c_str(), nullptr));
    const ProcessResult r =
        RunProcess(Host() + "run " + Module() + Quote(folder / "in.png") + " " + Quote(folder / "out.png") + " --ok");
    EXPECT_EQ(r.exitCode, 2u) << r.output;
    EXPECT_NE(r.output.find("cannot write " + folder / "out.png" + ": a folder stands where the file should be"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("Filter "), std::string::npos) << r.output;
    EXPECT_TRUE(files::IsFolder(folder / "out.png"));
}

// The causes of failed file calls, in words rather than numbers.
TEST(FileSafety, FailedFileCallsAreToldInWords)
{
    EXPECT_EQ(files::CauseWords(ERROR_DISK_FULL), "the disk is full");
    EXPECT_EQ(files::CauseWords(ERROR_HANDLE_DISK_FULL), "the disk is full");
    EXPECT_EQ(files::CauseWords(ERROR_ACCESS_DENIED), "access is denied");
    EXPECT_EQ(files::CauseWords(ERROR_FILENAME_EXCED_RANGE), "the path is too long");
    EXPECT_EQ(files::CauseWords(ERROR_PATH_NOT_FOUND), "its folder does not exist");
    EXPECT_EQ(files::CauseWords(ERROR_SHARING_VIOLATION), "another program is using the file");
    Folder folder("words");
    CreateDirectoryW(files::SystemPath(folder / "a folder").c_str(), nullptr);
    EXPECT_EQ(files::CauseWords(ERROR_ACCESS_DENIED, folder / "a folder"), "a folder stands where the file should be");
    PutBytes(folder / "kept.png", "kept");
    SetFileAttributesW(files::SystemPath(folder / "kept.png").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(files::CauseWords(ERROR_ACCESS_DENIED, folder / "kept.png"), "the file is read-only");
    // Any other error still says something and its number.
    EXPECT_NE(files::CauseWords(ERROR_INVALID_FUNCTION).find("(error 1)"), std::string::npos);
}

// The checked file: a write that fails at a chosen byte fails the file
// whatever the writer does next, and the file is gone; one that succeeds is
// as long as what was written.
TEST(FileSafety, TheCheckedFileKeepsTheFirstFailure)
{
    Folder folder("checked");
    {
        files::OutputFile file;
        ASSERT_TRUE(file.Create(folder / "whole.bin"));
        EXPECT_TRUE(file.Write("0123456789", 10));
        EXPECT_TRUE(file.WriteAt(2, "ab", 2));
        EXPECT_TRUE(file.Finish());
    }
    EXPECT_EQ(Text(folder / "whole.bin"), "01ab456789");
    SetEnvironmentVariableW(L"FILTERHOST_WRITE_FAULT", L"6");
    {
        files::OutputFile file;
        ASSERT_TRUE(file.Create(folder / "cut.bin"));
        EXPECT_TRUE(file.Write("0123", 4));
        EXPECT_FALSE(file.Write("4567", 4));
        EXPECT_FALSE(file.WriteAt(0, "x", 1));  // a writer that goes on regardless
        EXPECT_EQ(file.Error(), DWORD(ERROR_DISK_FULL));
        EXPECT_FALSE(file.Finish());
    }
    SetEnvironmentVariableW(L"FILTERHOST_WRITE_FAULT", nullptr);
    EXPECT_FALSE(files::Exists(folder / "cut.bin"));
    {
        files::OutputFile file;  // never finished: removed when it goes
        ASSERT_TRUE(file.Create(folder / "dropped.bin"));
        EXPECT_TRUE(file.Write("0123", 4));
    }
    EXPECT_EQ(files::FilesIn(folder.Path()), std::vector<std::string>{"whole.bin"});
}
