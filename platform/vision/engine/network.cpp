#include "platform/vision/engine/network.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/vision/engine/compiler.h"

namespace kestrel::vision::engine {
namespace {

std::string dimsText(const Dims& d) {
  std::string s;
  for (size_t k = 0; k < d.size(); ++k) s += (k ? "x" : "") + std::to_string(d[k]);
  return s;
}

// Names read from the file may hold any bytes: the message stays one line.
std::string printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return text;
}

}  // namespace

Network::Network(std::unique_ptr<Compiled> c) : c_(std::move(c)) {}
Network::~Network() = default;

std::unique_ptr<Network> Network::load(const std::string& path, const std::string& label) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw ModelError("model file " + label + " can't be read; run ./setup to install it again");
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) throw ModelError("model file " + label + " can't be read; run ./setup to install it again");
  return fromBytes(bytes.data(), bytes.size(), label);
}

std::unique_ptr<Network> Network::fromBytes(const void* bytes, size_t size, const std::string& label) {
  auto compiled = std::make_unique<Compiled>();
  compiled->label = label;
  try {
    Plan plan = resolvePlan(parseOnnx(bytes, size));
    Builder builder(plan, *compiled);
    builder.build();
    compiled->bind();
  } catch (const ModelError& e) {
    throw ModelError("model file " + label + " " + printable(e.what()) + "; run ./setup to install it again");
  } catch (const dnnl::error& e) {
    throw ModelError("model file " + label + " can't be compiled (" + printable(e.what()) +
                     "); run ./setup to install it again");
  } catch (const std::bad_alloc&) {
    throw ModelError("model file " + label + " needs more memory than there is");
  }
  return std::unique_ptr<Network>(new Network(std::move(compiled)));
}

const std::string& Network::label() const { return c_->label; }
size_t Network::inputCount() const { return c_->inputValues.size(); }
const std::string& Network::inputName(size_t k) const { return c_->inputNames.at(k); }
const Dims& Network::inputDims(size_t k) const { return c_->values[c_->inputValues.at(k)].dims; }
float* Network::input(size_t k) { return c_->data(c_->inputValues.at(k)); }

float* Network::input(const std::string& name) {
  for (size_t k = 0; k < c_->inputNames.size(); ++k)
    if (c_->inputNames[k] == name) return input(k);
  throw ModelError("model file " + c_->label + " has no input " + name + "; run ./setup to install it again");
}

void Network::run() { c_->run(); }
size_t Network::outputCount() const { return c_->outputNames.size(); }
const std::string& Network::outputName(size_t k) const { return c_->outputNames.at(k); }

const float* Network::output(const std::string& name) const {
  auto it = c_->outputValues.find(name);
  if (it == c_->outputValues.end())
    throw ModelError("model file " + c_->label + " has no output " + name + "; run ./setup to install it again");
  return c_->data(it->second);
}

const Dims& Network::outputDims(const std::string& name) const {
  auto it = c_->outputValues.find(name);
  if (it == c_->outputValues.end())
    throw ModelError("model file " + c_->label + " has no output " + name + "; run ./setup to install it again");
  return c_->values[it->second].dims;
}

void Network::expectOutput(const std::string& name, const Dims& dims) const {
  if (outputDims(name) != dims)
    throw ModelError("model file " + c_->label + " gives " + name + " as " + dimsText(outputDims(name)) +
                     " where " + dimsText(dims) + " is expected; run ./setup to install it again");
}

void Network::expectInput(size_t k, const Dims& dims) const {
  if (k >= inputCount() || inputDims(k) != dims)
    throw ModelError("model file " + c_->label + " does not take a " + dimsText(dims) +
                     " input; run ./setup to install it again");
}

std::string Network::summary() const {
  std::ostringstream s;
  for (const auto& [kind, count] : c_->stepCounts) s << kind << " " << count << ", ";
  s << "arena " << c_->buffers.size() << " buffers";
  return s.str();
}

double Network::macs() const { return c_->macs; }

}  // namespace kestrel::vision::engine
