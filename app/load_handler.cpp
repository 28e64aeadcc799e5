#include "app/load_handler.h"

#include <algorithm>
#include <optional>
#include <thread>
#include <vector>

#include "app/conversion_pool.h"
#include "app/failure_reasons.h"
#include "app/memory_estimate.h"
#include "core/resume_next.h"
#include "core/text.h"
#include "filelist/command_line.h"
#include "filelist/file_path.h"
#include "platform/platform.h"

namespace morvane {
namespace {

constexpr std::u16string_view kSummaryTitle = u"変換完了";
constexpr std::u16string_view kConvertedText = u"個のファイルを変換しました。";
constexpr std::u16string_view kFolderLabel = u"フォルダ：";
constexpr std::u16string_view kQualityLabel = u"画質：";
constexpr std::u16string_view kFailedText = u"変換に失敗しました。";
constexpr std::u16string_view kLineBreak = u"\r\n";
constexpr std::u16string_view kJpegExtension = u".jpg";

bool UsesChosenFolder(const StoredSettings& stored) { return stored.Set == u"Y"; }

// Prepares the n-th name: its long form and its JPEG path by the folder
// rule. Each statement block is one step of the batch. Returns whether the
// encoder is to be called for it.
bool PrepareName(Form1& form, const FileList& list, const StoredSettings& stored, size_t n) {
  RunStep([&] { form.SourcePaths.at(n) = FPath(list.ScannedNames.at(n)); });
  if (UsesChosenFolder(stored)) {
    // Without its tail the output path would be the folder text cut by four
    // characters: a file beside the chosen folder, not in it. Such a name
    // fails alone: no call to the encoder, not counted.
    if (n >= list.NameTails.size() || list.NameTails[n].empty()) return false;
    RunStep([&] { form.OutputPaths.at(n) = stored.Folder + list.NameTails.at(n); });
    RunStep([&] { form.OutputPaths.at(n) = WithoutExtension(form.OutputPaths.at(n)); });
  } else {
    RunStep([&] { form.OutputPaths.at(n) = WithoutExtension(form.SourcePaths.at(n)); });
  }
  RunStep([&] { form.OutputPaths.at(n) += kJpegExtension; });
  return true;
}

// The rest of the encoder call's step, name by name in order: a call that
// threw was abandoned; a result that does not fit a byte is not kept.
void TakeResults(Form1& form, const std::vector<Conversion>& conversions) {
  for (const Conversion& conversion : conversions) {
    if (!conversion.completed) continue;
    bool converted = false;
    RunStep([&] {
      const int16_t result = conversion.result;
      converted = result == 0;
      if (result < 0 || result > 255) throw StepFailure("encoder result does not fit a byte");
      form.LastResult = static_cast<uint8_t>(result);
    });
    if (converted) ++form.ConvertedCount;
  }
}

// The threads the calls may use together; more than one call run on a
// thread of their own, which takes its share of the memory too. One call
// asks for the memory only where its further threads would take some.
PoolLimits LimitsOf(const StartUpParts& parts, size_t call_count, uint8_t quality) {
  PoolLimits limits;
  limits.workers = parts.workers != 0 ? parts.workers : std::thread::hardware_concurrency();
  limits.thread_bytes = MemoryEachThreadTakes();
  if (call_count <= 1 && (limits.workers <= 1 || limits.thread_bytes == 0)) return limits;
  const uint64_t memory = parts.memory_bytes != 0 ? parts.memory_bytes : MemoryAvailableToProcess();
  // The thread the batch runs on, when more than one call.
  const uint64_t batch_thread = call_count > 1 ? limits.thread_bytes : 0;
  limits.memory_bytes =
      memory == 0 ? 0 : std::max<uint64_t>(memory - std::min(memory, batch_thread), 1);
  limits.memory_of = [quality](const std::u16string& source) {
    return BitmapMemoryEstimate(source, quality);
  };
  return limits;
}

// Makes the encoder calls on threads of their own while the view waits on
// this thread, where it may show the progress and let the user cancel.
void ConvertWhileViewWaits(Form1& form, std::vector<Conversion>& conversions,
                           const StartUpParts& parts) {
  BatchProgress progress(conversions.size());
  const PoolLimits limits = LimitsOf(parts, conversions.size(), form.Quality);
  // Without memory for the plan no call is made, and none counts as
  // converted.
  ConversionChains chains;
  RunStep([&] { chains = PlanConversions(conversions, limits.workers); });
  auto convert_all = [&] {
    RunConversions(chains, parts.convert, form.Quality, form.Progressive, limits, progress);
  };
  // One call has nothing to show but its end and nothing a cancel could
  // spare: it runs on this thread.
  if (conversions.size() <= 1) {
    convert_all();
    return;
  }
  // Each call frees what the next one takes again.
  KeepFreedMemoryForReuse();
  std::thread batch;
  if (!RunStep([&] { batch = std::thread(convert_all); })) {
    // Without another thread the calls still run, with no progress shown.
    convert_all();
    return;
  }
  RunStep([&] { form.view().WaitForBatch(progress); });
  batch.join();
}

// The folder the summary names: the chosen folder, or that of the first
// output path without its final "/".
std::u16string ShownFolderOf(const Form1& form, const StoredSettings& stored) {
  if (UsesChosenFolder(stored)) return stored.Folder;
  std::u16string shown;
  RunStep([&] {
    const std::u16string& first = form.OutputPaths.at(1);
    shown = first.substr(0, first.size() - FileName(first).size());
  });
  return shown;
}

// Why each name that has no reason yet was not converted, from its call.
void NoteReasonsOfCalls(const std::vector<Conversion>& conversions,
                        const std::vector<size_t>& names_called,
                        std::vector<std::u16string>& reasons) {
  for (size_t i = 0; i < conversions.size(); ++i) {
    const Conversion& conversion = conversions[i];
    std::u16string& reason = reasons[names_called[i]];
    if (!reason.empty()) continue;
    if (!conversion.started) {
      reason = CancelledReason();
    } else if (!conversion.completed) {
      reason = EncoderUnreachableReason();
    } else if (conversion.result != 0) {
      reason = ReasonOfResult(conversion.result, *conversion.dest);
    }
  }
}

// One line for each name not converted, in name order.
void ReportNotConverted(const FileList& list, const std::vector<std::u16string>& reasons,
                        const StartUpParts& parts) {
  if (!parts.report_not_converted) return;
  std::u16string lines;
  if (list.FileCount <= 0) lines = NoBitmapNamedLine();
  for (size_t n = 1; n < reasons.size(); ++n) {
    if (!reasons[n].empty()) lines += NotConvertedLine(list.ScannedNames[n], reasons[n]);
  }
  if (!lines.empty()) parts.report_not_converted(lines);
}

void ShowSummary(Form1& form, const StoredSettings& stored) {
  if (form.ConvertedCount > 0) {
    const std::u16string text = DecimalText(form.ConvertedCount) + std::u16string(kConvertedText) +
                                std::u16string(kLineBreak) + std::u16string(kFolderLabel) +
                                ShownFolderOf(form, stored) + std::u16string(kLineBreak) +
                                std::u16string(kQualityLabel) + DecimalText(form.Quality);
    form.view().ShowMessage(text, kSummaryTitle, MessageIcon::kInformation);
  } else {
    form.view().ShowMessage(kFailedText, kSummaryTitle, MessageIcon::kError);
  }
}

StartUpOutcome OutcomeOf(const Form1& form, int64_t file_count) {
  if (form.ConvertedCount == 0) return StartUpOutcome::kNoneConverted;
  if (static_cast<int64_t>(form.ConvertedCount) >= file_count) {
    return StartUpOutcome::kAllConverted;
  }
  return StartUpOutcome::kSomeConverted;
}

}  // namespace

StartUpOutcome RunLoadHandler(Form1& form, const CommandLine& command_line,
                              const StartUpParts& parts) {
  StoredSettings stored;
  RunStep([&] { stored = parts.load_settings(form.Quality, form.Progressive); });
  RunStep([&] { ShowStoredSettings(form, stored); });
  form.ConvertedCount = 0;
  if (CommandLineText(command_line).empty()) return StartUpOutcome::kShowWindow;

  // Every look-up comes before the first conversion, and the batch writes
  // nothing while names are looked up: the look-ups may remember what they
  // have seen.
  std::optional<LookUpMemo> memo;
  memo.emplace();
  FileList list;
  RunStep([&] { list = SplitCommandLine(command_line); });
  const size_t count = list.FileCount > 0 ? static_cast<size_t>(list.FileCount) : 0;
  // Every name found gets its slot, its tail and its conversion.
  list.ScannedNames.resize(std::max(list.ScannedNames.size(), count + 1));
  list.NameTails.resize(std::max(list.NameTails.size(), count + 1));
  form.SourcePaths.assign(count + 1, std::u16string());
  form.OutputPaths.assign(count + 1, std::u16string());

  // The names get their paths one after the other, then the encoder calls
  // run side by side. A name whose long form was not found is not found,
  // whatever the encoder then says of the empty text.
  std::vector<Conversion> conversions;
  std::vector<size_t> names_called;
  std::vector<std::u16string> reasons(count + 1);
  for (size_t n = 1; n <= count; ++n) {
    const bool call = PrepareName(form, list, stored, n);
    if (!call || form.SourcePaths[n].empty()) reasons[n] = NotFoundReason();
    if (call) {
      conversions.push_back({&form.SourcePaths[n], &form.OutputPaths[n]});
      names_called.push_back(n);
    }
  }
  memo.reset();
  ConvertWhileViewWaits(form, conversions, parts);
  TakeResults(form, conversions);
  RunStep([&] {
    NoteReasonsOfCalls(conversions, names_called, reasons);
    ReportNotConverted(list, reasons, parts);
  });

  RunStep([&] { ShowSummary(form, stored); });
  return OutcomeOf(form, list.FileCount);
}

int ExitStatusOf(StartUpOutcome outcome) {
  switch (outcome) {
    case StartUpOutcome::kAllConverted:
    case StartUpOutcome::kShowWindow:
      return 0;
    case StartUpOutcome::kNoneConverted:
      return 1;
    case StartUpOutcome::kSomeConverted:
      return 2;
  }
  return 1;
}

}  // namespace morvane
