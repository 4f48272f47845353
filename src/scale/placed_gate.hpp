// Gates and reductions on one process's share of a state spread over 2^g
// processes. The share holds the amplitudes whose g most significant
// physical positions equal the process's rank; a qubit map (kept by the
// caller) gives the physical position of every qubit. Every amplitude gets
// the arithmetic a single NativeState would give it, and the per-chunk sums
// are those the single-process probabilities add up.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::scale {

// The plan the single-process engine makes of `gate` on `targets` (n
// qubits): [kind, role of target 0, role of target 1, ...], kind 0 identity,
// 1 diagonal, 2 signed permutation, 3 dense; a role is 1 when the target is
// acted on and 0 when it only controls. Targets acted on by a permutation or
// dense plan must sit in local positions before apply_placed_gate.
std::vector<int64_t> gate_plan(std::span<const double> gate, std::span<const int64_t> targets, int64_t num_qubits);

// Applies `gate` on `targets` (qubit numbers of an n-qubit state, which fix
// the arithmetic) to the share `local` of process `rank`, each target sitting
// at physical position positions[i]. Controls and diagonal factors on
// global positions are resolved from the rank.
void apply_placed_gate(std::span<double> local, std::span<const double> gate, std::span<const int64_t> targets,
                       std::span<const int64_t> positions, int64_t num_qubits, int64_t rank);

// Writes into `sums` the share's chunk sums per outcome of `targets` (local
// qubit numbers), as the single-process probabilities form them: chunk c,
// outcome j at c * 2^k + j.
void chunk_sums(std::span<double> local, std::span<const int64_t> targets, std::span<double> sums);

// Continues in `sums` (2^k running sums) one chain over every base of the
// share: a chunk that spans several processes.
void continued_sums(std::span<double> local, std::span<const int64_t> targets, std::span<double> sums);

// Projects the share onto local outcome `outcome` of `targets` (local qubit
// numbers) given the outcome's total probability, as NativeState.measure does.
void collapse_share(std::span<double> local, std::span<const int64_t> targets, int64_t outcome, double probability);

}  // namespace nimbic::scale
