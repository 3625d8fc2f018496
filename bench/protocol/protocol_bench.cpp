// How much a record dump and a START_HOST forward cost the thread that
// builds them.
#include <benchmark/benchmark.h>

#include <memory>

#include "ltmessage.h"
#include "protocol/dumptext.h"
#include "protocol/tomodule.h"

namespace {

void BM_DumpGroupRateResult(benchmark::State& state) {
  PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT rates;
  rates.Count = 30;
  for (auto& entry : rates.Entries) entry.First = entry.Second = 123456789;
  for (auto _ : state) benchmark::DoNotOptimize(proto::DumpText(proto::kRecvTag, 3, rates));
}
BENCHMARK(BM_DumpGroupRateResult);

void BM_DumpGameEnd(benchmark::State& state) {
  auto end = std::make_unique<GAMEPROTO_SS_GAMEEND>();
  end->f25 = 50;
  for (auto _ : state) benchmark::DoNotOptimize(proto::DumpText(proto::kSendTag, 3, *end));
}
BENCHMARK(BM_DumpGameEnd);

void BM_DumpAddressTable(benchmark::State& state) {
  auto table = std::make_unique<RWPM_ADDRESS_TABLE>();
  for (auto& row : table->Address) {
    for (auto& address : row) address = 0x7F0000001000ull;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(proto::DumpAddressTableText(proto::kRecvTag, 3, *table));
  }
}
BENCHMARK(BM_DumpAddressTable);

void BM_WriteStartHost(benchmark::State& state) {
  auto info = std::make_unique<PROTO_START_HOST>();
  for (auto _ : state) {
    refmod::CLTMessageWrite* writer = refmod::CLTMessageWrite::Create();
    writer->Acquire();
    proto::WriteStartHost(*writer, *info);
    benchmark::DoNotOptimize(writer->Size());
    writer->Release();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * sizeof(PROTO_START_HOST));
}
BENCHMARK(BM_WriteStartHost);

}  // namespace

BENCHMARK_MAIN();
