#include "reference_host/validate/model.h"

#include "reference_host/validate/design_check.h"

namespace vhost {
namespace design {

void DesignCheck::Run() {
  expectedAfter_ = call_.before;
  switch (call_.selector) {
    case kSelectorInfo: Information(); break;
    case kSelectorInit: Initialize(); break;
    case kSelectorInterface: Interface(); break;
    case kSelectorSetup: Setup(); break;
    case kSelectorGenerate: Generate(); break;
    default: break;  // any other selector: nothing at all
  }
  if (stopped_) return;
  if (next_ < call_.calls.size()) {
    const ServedCall& extra = call_.calls[next_];
    Problem("sent " + Quoted(extra.selector) + " (host call " + std::to_string(next_ + 1) +
            " of the call) " +
            (next_ == 0 ? "although the design makes no host call here"
                        : "after " + lastStep_ + ", where the design makes no further call"));
    return;
  }
  if (call_.result != expectedResult_) {
    Problem("returned " + std::to_string(call_.result) + ", the design returns " +
            std::to_string(expectedResult_) + (resultWhy_.empty() ? "" : " (" + resultWhy_ + ")"));
  }
  if (checkBlock_) CompareBlock(expectedAfter_, call_.after);
}

void DesignCheck::Problem(const std::string& text) {
  problems_->push_back(Quoted(call_.selector) + ": " + text);
}

// The next callback call, which must be of selector; null (and the walk
// stops) when it is not.
const ServedCall* DesignCheck::Expect(uint32_t selector, const std::string& what) {
  if (stopped_) return nullptr;
  if (next_ >= call_.calls.size()) {
    Problem("expected " + Quoted(selector) + " " + what +
            (next_ == 0 ? "" : " after " + lastStep_) + ", but the call ended there");
    stopped_ = true;
    return nullptr;
  }
  const ServedCall& got = call_.calls[next_];
  if (got.selector != selector) {
    Problem("expected " + Quoted(selector) + " " + what +
            (next_ == 0 ? "" : " after " + lastStep_) + ", the plug-in sent " +
            Quoted(got.selector));
    stopped_ = true;
    return nullptr;
  }
  ++next_;
  lastStep_ = Quoted(selector) + " " + what +
              (got.refused ? " (refused with " + std::to_string(got.result) + ")" : "");
  expectedResult_ = got.result;
  resultWhy_ = "the result of the last host call, " + Quoted(selector);
  return &got;
}

void DesignCheck::Argument(bool ok, const std::string& text) {
  if (!ok && !stopped_) {
    Problem(text);
    stopped_ = true;
  }
}

void DesignCheck::SetResult(int32_t result, const std::string& why) {
  expectedResult_ = result;
  resultWhy_ = why;
}

// The host functions called must be these, in this order; a hidden one is
// never called, a refusing one is called and refuses.
void DesignCheck::ExpectFunctions(const std::vector<std::string>& names) {
  std::vector<FunctionCall> expected;
  for (const std::string& name : names) {
    if (call_.hiddenFunctions.count(name)) continue;
    expected.push_back({name, call_.deadFunctions.count(name) != 0, false, {}});
  }
  const auto& got = call_.functions;
  for (size_t i = 0; i < std::max(expected.size(), got.size()); ++i) {
    if (i < expected.size() && i < got.size() && expected[i].name == got[i].name) continue;
    std::string before = i == 0 ? "first" : "after " + got[i - 1].name;
    if (i >= got.size()) {
      Problem("did not call " + expected[i].name + " (" + before +
              "), which the design calls here");
    } else if (i >= expected.size()) {
      Problem("called " + got[i].name + " (" + before + "), which the design does not call here");
    } else {
      Problem("called " + got[i].name + " (" + before + "), where the design calls " +
              expected[i].name);
    }
    stopped_ = true;
    return;
  }
}

void DesignCheck::CompareBlock(const BlockState& expected, const BlockState& got) {
  if (expected.present != got.present) {
    Problem(got.present ? "the instance has a block where the design leaves it none"
                        : "the instance lost its block");
    return;
  }
  if (!got.present) return;
  if (expected.bytes.size() != got.bytes.size()) {
    Problem("the block has " + std::to_string(got.bytes.size()) + " bytes, the design leaves " +
            std::to_string(expected.bytes.size()));
    return;
  }
  for (size_t i = 0; i < got.bytes.size(); ++i) {
    if (got.bytes[i] != expected.bytes[i]) {
      Problem("block byte " + std::to_string(i) + " (" + FieldAt(i) + ") is " +
              std::to_string(got.bytes[i]) + ", the design leaves " +
              std::to_string(expected.bytes[i]));
      return;
    }
  }
}

// GetControlData(-1): the block after the fetch in *block. False when the
// handler gets no block and stops.
bool DesignCheck::Fetch(BlockState* block) {
  bool missing = !block->present || block->bytes.size() < kBlockMinSize;
  if (!missing) {
    block->bytes = ExpectedRepair(block->bytes);
    return true;
  }
  const ServedCall* alloc =
      Expect(kSelectorAllocate, "for a new parameter block (the instance has none of 52 bytes)");
  if (alloc == nullptr) return false;
  Argument(Args<AllocateCall>(alloc).sizeAsked == int64_t(kBlockMinSize),
           "'ALOC' for a new block asked for " +
               std::to_string(Args<AllocateCall>(alloc).sizeAsked) + " bytes, not 52");
  if (alloc->result != 0) return false;  // the old block stays as it was
  std::vector<uint8_t> moved = HostMove(*block, Args<AllocateCall>(alloc).sizeGranted);
  *block = BlockState{!moved.empty(), moved};
  if (Args<AllocateCall>(alloc).sizeGranted < int64_t(kBlockMinSize))
    return false;  // granted too small: taken as none
  FillDefaultFields(block->bytes);
  return true;
}

void DesignCheck::Information() {
  const HostPluginDescription& d = call_.info->info;
  auto text = [](const unsigned char* field) {
    return std::string(reinterpret_cast<const char*>(field) + 1, field[0]);
  };
  if (d.pluginType != kPluginTypeStub)
    Problem("wrote the plug-in type " + Quoted(d.pluginType) + ", not 'STUB'");
  if (d.pluginVersion != 1)
    Problem("wrote the version " + std::to_string(d.pluginVersion) + ", not 1");
  if (text(d.pluginName) != "Vestrel")
    Problem("wrote the name \"" + text(d.pluginName) + "\", not \"Vestrel\"");
  if (text(d.description) != kDescriptionText)
    Problem("wrote the description \"" + text(d.description) + "\"");
  if (d.infoFlags != 15)
    Problem("wrote the info flags " + std::to_string(d.infoFlags) + ", not 15");
}

void DesignCheck::Initialize() {
  BlockState block = call_.before;
  Fetch(&block);  // a refused 'ALOC' does not stop the handler
  expectedAfter_ = block;
  const ServedCall* creator = Expect(kSelectorCreator, "for the creator code");
  if (creator == nullptr) return;
  model_.creator = creator->result == 0 ? call_.scene->creator : kCreatorUnknown;
}

void DesignCheck::Interface() {
  BlockState block = call_.before;
  bool fetched = Fetch(&block);
  expectedAfter_ = block;
  if (!fetched) {
    ExpectFunctions({});
    return;
  }
  std::vector<std::string> sequence;
  DialogReads reads;
  bool accepted = InterfaceFunctions(&sequence, &reads);
  ExpectFunctions(sequence);
  if (!accepted) return;
  // The accepted values are in the block before 'RSET' goes out.
  Write<float>(expectedAfter_.bytes, kBlockAngleAt, AngleFromText(reads.text));
  Write<int32_t>(expectedAfter_.bytes, kBlockFreezeAt, reads.freeze);
  Write<int32_t>(expectedAfter_.bytes, kBlockReverseAt, reads.reverse);
  Expect(kSelectorReset, "after the accepted dialog");
}

const FunctionCall* DesignCheck::CallFunction(const std::string& name,
                                              std::vector<std::string>* sequence) {
  sequence->push_back(name);
  if (call_.hiddenFunctions.count(name)) return nullptr;
  if (nextFunction_ >= call_.functions.size()) return nullptr;
  // Out of step shows in ExpectFunctions; the walk goes on with the log.
  const FunctionCall& logged = call_.functions[nextFunction_++];
  return logged.name == name && !logged.refused ? &logged : nullptr;
}

namespace {

int32_t IntegerField(const FunctionCall* call, const char* key) {
  const FieldValue* field = call != nullptr ? call->Find(key) : nullptr;
  return field != nullptr ? static_cast<int32_t>(field->integer) : 0;
}

// A served Orvo_FindControlByID that handed out a control.
bool FoundControl(const FunctionCall* call) {
  const FieldValue* result = call != nullptr ? call->Find("result") : nullptr;
  return result != nullptr && result->text != AddressText(nullptr);
}

}  // namespace

// The host functions 'INTF' calls, given which of them serve; returns
// whether the dialog was accepted. Sets the result code of 6 and 4.
bool DesignCheck::InterfaceFunctions(std::vector<std::string>* sequence, DialogReads* reads) {
  auto call = [&](const char* name) { return CallFunction(name, sequence); };
  bool directory = call(kOrvoGetHomeDirectory);
  bool file = call(kOrvoMakeFileRef) && directory;
  bool resource = call(kOrvoOpenResourceFile) && file;
  call(kOrvoDestroyFileRef);
  call(kOrvoDestroyDirectoryRef);
  if (!resource) {
    SetResult(6, "no resource file");
    return false;
  }
  if (!call(kOrvoMakeDialog)) {
    SetResult(6, "no dialog");
    call(kOrvoCloseResourceFile);
    return false;
  }
  auto found = [&]() { return FoundControl(call(kOrvoFindControlByID)); };
  if (found()) call(kOrvoSetEditTextString);
  if (found()) call(kOrvoSetControlValue);
  if (found()) call(kOrvoSetControlValue);
  call(kOrvoSetDialogTitle);
  // Any answer but 0 accepts, whatever the user did.
  bool accepted = IntegerField(call(kOrvoExecuteDialog), "result") != 0;
  if (accepted) {
    if (found()) {
      call(kOrvoGetEditTextStringSize);
      const FunctionCall* text = call(kOrvoGetEditTextString);
      const FieldValue* written = text != nullptr ? text->Find("text") : nullptr;
      if (written != nullptr) reads->text = written->text;
    }
    if (found()) reads->freeze = IntegerField(call(kOrvoGetControlValue), "result");
    if (found()) reads->reverse = IntegerField(call(kOrvoGetControlValue), "result");
  } else {
    SetResult(4, "the dialog was cancelled");
  }
  call(kOrvoDestroyDialog);
  call(kOrvoCloseResourceFile);
  return accepted;
}

}  // namespace design

void CheckEntryCall(const EntryObservation& call, ProcessModel& model,
                    std::vector<std::string>* problems) {
  design::DesignCheck(call, model, problems).Run();
}

std::string BlockSoundness(const BlockState& block) {
  if (!block.present) return "the instance has no block";
  return BlockSoundness(block.bytes);
}

}  // namespace vhost
