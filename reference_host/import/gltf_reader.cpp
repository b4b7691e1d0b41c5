#include "reference_host/import/gltf_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <filesystem>

#include <tiny_gltf.h>

#include "reference_host/import/animation.h"
#include "reference_host/printable_text.h"
#include "hostkit/file_read.h"

namespace vhost {

namespace {

namespace fs = std::filesystem;

// The most keys one channel may have (the file and node bounds are every
// format's, in animation.h).
constexpr size_t kMaxKeys = 10000000;
// The deepest nesting of arrays and objects in a glTF file's JSON: real files
// nest a dozen levels; the parsers recurse, so a deeper file is refused
// before they see it.
constexpr size_t kMaxJsonDepth = 256;

// Images are not needed for motion: skip decoding them.
bool SkipImage(tinygltf::Image*, const int, std::string*, std::string*, int, int,
               const unsigned char*, int, void*) {
  return true;
}

// The files a glTF file names (its buffers, its images) are read only from
// its own folder or below, each through one descriptor opened beneath the
// folder without following a link out of it, and within what is left of the
// bound on the whole file: a name cannot make the host read elsewhere, wait
// on a pipe or read a device without end, even while the folder changes.
struct ExternalFiles {
  fs::path folder;  // the glTF file's folder, resolved
  size_t budget = 0;
  std::vector<std::string>* read = nullptr;  // the files read, for the caller
};

// The name below the folder that path (the folder joined with a file's URI)
// stands for; empty when it leaves the folder.
std::string RelativeName(const fs::path& folder, const std::string& path) {
  fs::path relative = fs::path(path).lexically_normal().lexically_relative(folder);
  if (relative.empty() || relative.is_absolute() || *relative.begin() == "..") return {};
  return relative.string();
}

constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

// Walks name below the folder one component at a time, following no link:
// the fallback where the kernel cannot resolve beneath a folder itself.
int OpenWalkingBeneath(int folder, const std::string& name) {
  int at = dup(folder);
  fs::path path(name);
  for (auto it = path.begin(); at >= 0 && it != path.end();) {
    const std::string part = it->string();
    const bool last = ++it == path.end();
    if (part == ".." || part.empty()) {
      close(at);
      errno = EXDEV;
      return -1;
    }
    int next =
        openat(at, part.c_str(),
               last ? kOpenFlags | O_NOFOLLOW : O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(at);
    at = next;
  }
  return at;
}

// Opens name below the folder; a link or ".." that leads out of it fails.
int OpenBeneath(const fs::path& folder, const std::string& name) {
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  int fd = -1;
#if defined(__linux__) && defined(SYS_openat2)
  struct open_how how;
  memset(&how, 0, sizeof how);
  how.flags = uint64_t(kOpenFlags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  fd = int(syscall(SYS_openat2, dir, name.c_str(), &how, sizeof how));
  if (fd < 0 && (errno == ENOSYS || errno == EPERM)) fd = OpenWalkingBeneath(dir, name);
#else
  fd = OpenWalkingBeneath(dir, name);
#endif
  int saved = errno;
  close(dir);
  errno = saved;
  return fd;
}

// Reads the open file whole, after checking on the descriptor that it is a
// regular file within maxBytes.
bool ReadDescriptor(int fd, size_t maxBytes, std::string* bytes, std::string* error) {
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    *error = "not a regular file";
    return false;
  }
  if (status.st_size < 0 || uint64_t(status.st_size) > maxBytes) {
    *error = "larger than the " + std::to_string(maxBytes) + " bytes allowed";
    return false;
  }
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = SystemReason(errno);
      return false;
    }
    if (n == 0) return true;
    bytes->append(buffer, size_t(n));
    if (bytes->size() > maxBytes) {
      *error = "larger than the " + std::to_string(maxBytes) + " bytes allowed";
      return false;
    }
  }
}

// A file "exists" for tinygltf when it opens beneath the folder as a regular
// file; the read checks again on its own descriptor.
bool ExternalFileExists(const std::string& path, void* data) {
  auto* files = static_cast<ExternalFiles*>(data);
  const std::string name = RelativeName(files->folder, path);
  if (name.empty()) return false;
  int fd = OpenBeneath(files->folder, name);
  if (fd < 0) return false;
  struct stat status;
  bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  close(fd);
  return regular;
}

std::string KeepPath(const std::string& path, void*) { return path; }

bool ReadExternalFile(std::vector<unsigned char>* out, std::string* error, const std::string& path,
                      void* data) {
  auto* files = static_cast<ExternalFiles*>(data);
  const std::string name = RelativeName(files->folder, path);
  if (name.empty()) {
    *error = "outside the glTF file's folder";
    return false;
  }
  int fd = OpenBeneath(files->folder, name);
  if (fd < 0) {
    *error = errno == EXDEV || errno == ELOOP ? "outside the glTF file's folder (a link out of it)"
                                              : SystemReason(errno);
    return false;
  }
  std::string bytes;
  bool read = ReadDescriptor(fd, files->budget, &bytes, error);
  close(fd);
  if (!read) return false;
  files->budget -= bytes.size();
  if (files->read) files->read->push_back((files->folder / name).string());
  out->assign(bytes.begin(), bytes.end());
  return true;
}

// How deep arrays and objects nest in JSON text (strings skipped), stopping
// as soon as it passes limit.
size_t JsonDepth(const char* text, size_t size, size_t limit) {
  size_t depth = 0, deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < size && deepest <= limit; ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;  // the escaped character cannot end the string
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

uint32_t LittleEndian32(const std::string& bytes, size_t at) {
  return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
         uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

// What tinygltf would read badly or not at all: a binary file of another
// version, JSON nested deeper than its parsers' recursion can bear.
bool PreCheck(const std::string& bytes, bool binary, std::string* error) {
  const char* json = bytes.data();
  size_t size = bytes.size();
  if (binary && bytes.size() >= 8 && LittleEndian32(bytes, 4) != 2) {
    *error = "a binary glTF file of version " + std::to_string(LittleEndian32(bytes, 4)) +
             "; only version 2 is read";
    return false;
  }
  if (binary) {
    // The JSON chunk: its length at byte 12, its text from byte 20.
    if (bytes.size() < 20) return true;  // tinygltf names what is missing
    json += 20;
    size = std::min(size_t(LittleEndian32(bytes, 12)), bytes.size() - 20);
  }
  if (JsonDepth(json, size, kMaxJsonDepth) > kMaxJsonDepth) {
    *error =
        "its JSON nests arrays and objects more than " + std::to_string(kMaxJsonDepth) + " deep";
    return false;
  }
  return true;
}

bool RefuseWrite(std::string* error, const std::string&, const std::vector<unsigned char>&, void*) {
  *error = "the import writes no files";
  return false;
}

// Reads an accessor's elements as doubles (components per element), after
// checking that it lies inside its buffer. Normalised integers (allowed for
// rotations) are turned into [-1, 1] as glTF defines.
class AccessorReader {
 public:
  AccessorReader(const tinygltf::Model& model, std::string* error) : model_(model), error_(error) {}

  bool Read(int index, int type, std::vector<std::array<double, 4>>* out, const char* what) {
    std::string where = std::string(what) + " accessor " + std::to_string(index);
    if (index < 0 || size_t(index) >= model_.accessors.size())
      return Fail(where + " does not exist");
    const tinygltf::Accessor& a = model_.accessors[index];
    if (a.sparse.isSparse) return Fail(where + " is sparse, which is not supported");
    if (a.type != type) return Fail(where + " has the wrong type");
    if (a.count > kMaxKeys)
      return Fail(where + " has more than " + std::to_string(kMaxKeys) + " elements");
    int components = tinygltf::GetNumComponentsInType(uint32_t(type));
    int size = tinygltf::GetComponentSizeInBytes(uint32_t(a.componentType));
    bool isFloat = a.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT;
    if (size <= 0 || components <= 0 || components > 4 || (!isFloat && !a.normalized))
      return Fail(where + " is neither float nor normalised integers");
    if (a.bufferView < 0 || size_t(a.bufferView) >= model_.bufferViews.size())
      return Fail(where + " has no valid buffer view");
    const tinygltf::BufferView& view = model_.bufferViews[a.bufferView];
    if (view.buffer < 0 || size_t(view.buffer) >= model_.buffers.size())
      return Fail(where + " has no valid buffer");
    const std::vector<unsigned char>& data = model_.buffers[view.buffer].data;
    int stride = a.ByteStride(view);
    uint64_t element = uint64_t(size) * components;
    if (stride <= 0 || uint64_t(stride) < element) return Fail(where + " has a bad byte stride");
    // a.count is bounded above and stride is an int: span cannot wrap. The
    // offsets come from the file and may be anything: each is compared with
    // what is left, never added first.
    uint64_t span = a.count == 0 ? 0 : uint64_t(stride) * (a.count - 1) + element;
    if (view.byteOffset > data.size() || view.byteLength > data.size() - view.byteOffset ||
        a.byteOffset > view.byteLength || span > view.byteLength - a.byteOffset)
      return Fail(where + " reaches past the end of its buffer");
    out->assign(a.count, {0, 0, 0, 0});
    const unsigned char* base = data.data() + view.byteOffset + a.byteOffset;
    for (size_t i = 0; i < a.count; ++i)
      for (int c = 0; c < components; ++c)
        (*out)[i][c] = Component(base + i * stride + c * size, a.componentType);
    return true;
  }

 private:
  static double Component(const unsigned char* p, int type) {
    switch (type) {
      case TINYGLTF_COMPONENT_TYPE_FLOAT: {
        float f;
        memcpy(&f, p, 4);
        return f;
      }
      case TINYGLTF_COMPONENT_TYPE_BYTE: return fmax(int8_t(p[0]) / 127.0, -1.0);
      case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return p[0] / 255.0;
      case TINYGLTF_COMPONENT_TYPE_SHORT: {
        int16_t v;
        memcpy(&v, p, 2);
        return fmax(v / 32767.0, -1.0);
      }
      case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
        uint16_t v;
        memcpy(&v, p, 2);
        return v / 65535.0;
      }
      default: return NAN;  // refused by the finite check
    }
  }

  bool Fail(const std::string& message) {
    *error_ = message;
    return false;
  }

  const tinygltf::Model& model_;
  std::string* error_;
};

bool ReadNodes(const tinygltf::Model& model, AnimationFile* file, std::string* error) {
  if (model.nodes.size() > kMaxAnimationNodes) {
    *error = "more than " + std::to_string(kMaxAnimationNodes) + " nodes";
    return false;
  }
  file->nodes.resize(model.nodes.size());
  for (size_t i = 0; i < model.nodes.size(); ++i) {
    const tinygltf::Node& in = model.nodes[i];
    AnimationNode& node = file->nodes[i];
    node.name = in.name.empty() ? "node " + std::to_string(i) : in.name;
    if (in.matrix.size() == 16) {
      node.hasMatrix = true;
      for (int k = 0; k < 16; ++k) node.matrix[k] = in.matrix[k];
    }
    if (in.translation.size() == 3)
      node.translation = {in.translation[0], in.translation[1], in.translation[2]};
    if (in.rotation.size() == 4)
      node.rotation = {in.rotation[0], in.rotation[1], in.rotation[2], in.rotation[3]};
    if (in.scale.size() == 3) node.scale = {in.scale[0], in.scale[1], in.scale[2]};
    double values[] = {node.translation.x, node.translation.y, node.translation.z, node.rotation[0],
                       node.rotation[1],   node.rotation[2],   node.rotation[3],   node.scale.x,
                       node.scale.y,       node.scale.z};
    bool finite = true;
    for (double v : values) finite = finite && isfinite(v);
    for (double v : node.matrix) finite = finite && isfinite(v);
    if (!finite) {
      *error = "node \"" + node.name + "\" has a value that is not finite";
      return false;
    }
  }
  for (size_t i = 0; i < model.nodes.size(); ++i) {
    for (int child : model.nodes[i].children) {
      if (child < 0 || size_t(child) >= model.nodes.size() || file->nodes[child].parent >= 0 ||
          size_t(child) == i) {
        *error = "node " + std::to_string(i) + " has a bad child " + std::to_string(child);
        return false;
      }
      file->nodes[child].parent = int(i);
    }
  }
  *error = CheckNodes(*file);
  return error->empty();
}

bool ReadClip(const tinygltf::Model& model, size_t index, AnimationFile* file, std::string* error) {
  const tinygltf::Animation& in = model.animations[index];
  AnimationClip clip;
  clip.name = in.name.empty() ? "animation " + std::to_string(index) : in.name;
  AccessorReader reader(model, error);
  for (size_t i = 0; i < in.channels.size(); ++i) {
    const tinygltf::AnimationChannel& c = in.channels[i];
    std::string where = "animation \"" + clip.name + "\", channel " + std::to_string(i) + ": ";
    ChannelPath path;
    int type;
    if (c.target_path == "translation") {
      path = ChannelPath::kTranslation;
      type = TINYGLTF_TYPE_VEC3;
    } else if (c.target_path == "rotation") {
      path = ChannelPath::kRotation;
      type = TINYGLTF_TYPE_VEC4;
    } else if (c.target_path == "scale") {
      path = ChannelPath::kScale;
      type = TINYGLTF_TYPE_VEC3;
    } else {
      continue;  // morph target weights do not move a node
    }
    if (c.target_node < 0 || size_t(c.target_node) >= file->nodes.size()) {
      *error = where + "no such node " + std::to_string(c.target_node);
      return false;
    }
    if (file->nodes[c.target_node].hasMatrix) {
      *error = where + "animates node \"" + file->nodes[c.target_node].name +
               "\", which is given by a matrix";
      return false;
    }
    if (c.sampler < 0 || size_t(c.sampler) >= in.samplers.size()) {
      *error = where + "no such sampler " + std::to_string(c.sampler);
      return false;
    }
    const tinygltf::AnimationSampler& sampler = in.samplers[c.sampler];
    AnimationChannel channel;
    channel.node = c.target_node;
    channel.path = path;
    if (sampler.interpolation == "STEP") {
      channel.interpolation = KeyInterpolation::kStep;
    } else if (sampler.interpolation == "CUBICSPLINE") {
      channel.interpolation = KeyInterpolation::kCubicSpline;
    } else if (sampler.interpolation == "LINEAR" || sampler.interpolation.empty()) {
      channel.interpolation = KeyInterpolation::kLinear;
    } else {
      *error = where + "unknown interpolation \"" + sampler.interpolation + "\"";
      return false;
    }
    std::vector<std::array<double, 4>> times;
    if (!reader.Read(sampler.input, TINYGLTF_TYPE_SCALAR, &times, "key time") ||
        !reader.Read(sampler.output, type, &channel.values, "key value")) {
      *error = where + *error;
      return false;
    }
    for (const auto& t : times) channel.times.push_back(t[0]);
    clip.channels.push_back(std::move(channel));
  }
  *error = CheckClip(*file, clip);
  if (!error->empty()) return false;
  file->clips.push_back(std::move(clip));
  return true;
}

}  // namespace

bool ParseGltfFile(const std::string& bytes, const std::string& path, AnimationFile* file,
                   std::string* error) {
  bool binary = LowercaseExtension(path) == ".glb";
  bool hasMagic = bytes.size() >= 4 && bytes.compare(0, 4, "glTF") == 0;
  if (binary != hasMagic) {
    *error = binary ? "not a binary glTF file (no 'glTF' header)"
                    : "a binary glTF file under a .gltf name";
    return false;
  }
  if (bytes.size() > 0xFFFFFFFFu) {
    *error = "the file is too large";
    return false;
  }
  if (!PreCheck(bytes, binary, error)) return false;
  tinygltf::TinyGLTF loader;
  loader.SetImageLoader(SkipImage, nullptr);
  std::error_code code;
  ExternalFiles external{
      fs::weakly_canonical(fs::absolute(path).parent_path(), code),
      size_t(kMaxAnimationFileBytes) - std::min(bytes.size(), size_t(kMaxAnimationFileBytes)),
      &file->filesRead};
  tinygltf::FsCallbacks callbacks{ExternalFileExists, KeepPath, ReadExternalFile, RefuseWrite,
                                  &external};
  loader.SetFsCallbacks(callbacks);
  tinygltf::Model model;
  std::string loadError, warning;
  std::string base = external.folder.string();
  bool loaded = false;
  try {
    loaded = binary
                 ? loader.LoadBinaryFromMemory(&model, &loadError, &warning,
                                               reinterpret_cast<const unsigned char*>(bytes.data()),
                                               unsigned(bytes.size()), base)
                 : loader.LoadASCIIFromString(&model, &loadError, &warning, bytes.data(),
                                              unsigned(bytes.size()), base);
  } catch (const std::bad_alloc&) {
    throw;  // the caller names the memory limit
  } catch (const std::exception& e) {
    loadError = e.what();
  }
  if (!loaded) {
    while (!loadError.empty() && (loadError.back() == '\n' || loadError.back() == ' '))
      loadError.pop_back();
    *error = "not a readable glTF 2.0 file" + (loadError.empty() ? "" : ": " + loadError);
    return false;
  }
  file->path = path;
  file->format = "glTF";
  file->yUp = true;
  file->attribution = model.asset.copyright;
  if (!ReadNodes(model, file, error)) return false;
  for (size_t i = 0; i < model.animations.size(); ++i)
    if (!ReadClip(model, i, file, error)) return false;
  return true;
}

}  // namespace vhost
