// Scene files of vestrel-host: JSON (docs/reference-host.md describes the
// format). ParseScene checks every value and names the place of the first
// fault, so a bad file is refused with one clear message.
#ifndef VESTREL_REFERENCE_HOST_PLAY_SCENE_FILE_H
#define VESTREL_REFERENCE_HOST_PLAY_SCENE_FILE_H

#include <optional>
#include <string>

#include "hostkit/scene.h"

namespace vhost {

struct SceneResult {
  std::optional<Scene> scene;
  std::string error;  // "<source>: <where>: <what is wrong>" when scene is empty
};

// Parses a scene from JSON text; source names it in messages.
SceneResult ParseScene(const std::string& text, const std::string& source,
                       const SceneLimits& limits = {});
// Reads and parses a scene file.
SceneResult LoadSceneFile(const std::string& path, const SceneLimits& limits = {});

// The scene that vestrel-host plays when it is given none.
const char* DefaultSceneText();
constexpr const char* kDefaultSceneSource = "<embedded default scene>";

}  // namespace vhost

#endif
