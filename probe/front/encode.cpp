#include "probe/front/encode.h"

#include "probe/front/json.h"

namespace kestrel {
namespace {

void write(JsonWriter& j, const Box& b) {
  j.beginObject();
  j.key("x"), j.number(b.x);
  j.key("y"), j.number(b.y);
  j.key("w"), j.number(b.width);
  j.key("h"), j.number(b.height);
  j.key("c"), j.number(b.confidence);
  j.endObject();
}

void write(JsonWriter& j, const Face& f) {
  j.beginObject();
  j.key("box"), write(j, f.box);
  if (f.yaw) j.key("yaw"), j.number(*f.yaw);
  if (f.pitch) j.key("pitch"), j.number(*f.pitch);
  j.endObject();
}

void write(JsonWriter& j, const Animal& a) {
  j.beginObject();
  j.key("label"), j.string(a.label);
  j.key("box"), write(j, a.box);
  j.endObject();
}

void write(JsonWriter& j, const Label& l) {
  j.beginObject();
  j.key("label"), j.string(l.label);
  j.key("c"), j.number(l.confidence);
  j.endObject();
}

void write(JsonWriter& j, const AudioInput& a) {
  j.beginObject();
  j.key("id"), j.string(a.id);
  j.key("name"), j.string(a.name);
  j.key("isDefault"), j.boolean(a.isDefault);
  j.endObject();
}

template <class T>
void writeList(JsonWriter& j, const std::vector<T>& items) {
  j.beginArray();
  for (const auto& item : items) write(j, item);
  j.endArray();
}

void writeNumbers(JsonWriter& j, const std::vector<double>& v) {
  j.beginArray();
  for (double d : v) j.number(d);
  j.endArray();
}

std::optional<std::string> finish(const JsonWriter& j) {
  if (!j.ok()) return std::nullopt;
  return j.text();
}

}  // namespace

std::optional<std::string> encode(const Info& v) {
  JsonWriter j;
  j.beginObject();
  j.key("type"), j.string(v.type);
  j.key("width"), j.integer(v.width);
  j.key("height"), j.integer(v.height);
  j.key("orientation"), j.unsignedInteger(v.orientation);
  j.key("hz"), j.integer(v.hz);
  j.key("vision"), j.string(v.vision);
  j.endObject();
  return finish(j);
}

std::optional<std::string> encode(const Frame& v) {
  JsonWriter j;
  j.beginObject();
  j.key("type"), j.string(v.type);
  j.key("pts"), j.beginArray();
  for (int64_t p : v.pts) j.integer(p);
  j.endArray();
  j.key("faces"), writeList(j, v.faces);
  j.key("humans"), writeList(j, v.humans);
  j.key("animals"), writeList(j, v.animals);
  j.key("hands"), writeList(j, v.hands);
  j.key("classes"), writeList(j, v.classes);
  if (v.gaze) j.key("gaze"), writeNumbers(j, *v.gaze);
  j.key("thumb"), j.beginArray();
  for (uint8_t b : v.thumb) j.unsignedInteger(b);
  j.endArray();
  j.endObject();
  return finish(j);
}

std::optional<std::string> encode(const Done& v) {
  JsonWriter j;
  j.beginObject();
  j.key("type"), j.string(v.type);
  j.key("frames"), j.integer(v.frames);
  j.endObject();
  return finish(j);
}

std::optional<std::string> encode(const PhotoInfo& v) {
  JsonWriter j;
  j.beginObject();
  j.key("width"), j.integer(v.width);
  j.key("height"), j.integer(v.height);
  j.key("alpha"), j.boolean(v.alpha);
  j.key("orientation"), j.unsignedInteger(v.orientation);
  j.key("profile"), j.string(v.profile);
  j.key("frames"), j.integer(v.frames);
  j.endObject();
  return finish(j);
}

std::optional<std::string> encode(const std::vector<AudioInput>& v) {
  JsonWriter j;
  writeList(j, v);
  return finish(j);
}

}  // namespace kestrel
