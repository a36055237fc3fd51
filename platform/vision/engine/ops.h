#pragma once
// What the executor knows of each op, in one table keyed by the op's name:
// its shape rule, its load-time fold (if it has one) and its lowering into
// steps. Each family's file lists its own rows beside the rules they name:
// lower_convolution.cpp, lower_matmul.cpp, lower_elementwise.cpp,
// lower_layout.cpp, lower_pooling.cpp, and constant_folding.cpp for the ops
// that only ever fold (Shape, Gather, Cast...). An op in no row is refused.
#include <optional>
#include <utility>

#include "platform/vision/engine/shape_rules.h"

namespace kestrel::vision::engine {

class Builder;

// The output shapes of a node from what is known of its inputs. Throws
// ModelError for an attribute it does not take or shapes that do not fit.
using ShapeRule = std::vector<Dims> (*)(const Node&, const InputFacts&);
// The node's outputs computed at load; nothing when it cannot be.
using FoldRule = std::optional<std::vector<HostTensor>> (*)(const Node&, const InputFacts&);
// Adds the node's steps to the builder and names its outputs.
using Lowering = void (*)(Builder&, const Node&);

// A fold needs its node's first foldInputs inputs present and constant, and
// every other input it is given constant too; kEveryInput counts them all,
// and kNoValues folds read no input's values (Constant, Shape).
constexpr int kEveryInput = -1;
constexpr int kNoValues = 0;

struct OpRule {
  ShapeRule shape = nullptr;  // none: the op is taken only where it folds
  FoldRule fold = nullptr;
  int foldInputs = 1;
  Lowering lower = nullptr;   // none: the op is refused where it is left to run
};
using OpRows = std::vector<std::pair<std::string, OpRule>>;

// The rows of each family.
OpRows convolutionOps();
OpRows matMulOps();
OpRows elementwiseOps();
OpRows layoutOps();
OpRows poolingOps();
OpRows foldedOps();

// The rule of an op by name; nullptr when no family has it.
const OpRule* findOp(const std::string& op);

// Throws ModelError for an op without a shape rule, as outputDims does.
std::vector<Dims> outputDims(const Node& node, const InputFacts& in);

// The node's outputs when it can be evaluated now: its op folds and the
// inputs it reads are constants. Otherwise nothing.
std::optional<std::vector<HostTensor>> foldNode(const Node& node, const InputFacts& in);

// Lowers node by its op's row; refuses an op that does not run.
void lowerNode(Builder& b, const Node& node);

}  // namespace kestrel::vision::engine
