// Names on the session bus that the embedding server and its containers
// share. A container asks the bus for the class factory's well-known name;
// the bus starts "<program> -Embedding" from the service file, and the
// factory hands back one object served from then on by that process's
// unique name.
#pragma once

namespace embedding {

inline constexpr char kServiceName[] = "org.tolvern.Brisolde.Document";
inline constexpr char kFactoryPath[] = "/org/tolvern/Brisolde/Factory";
inline constexpr char kFactoryInterface[] = "org.tolvern.Brisolde.ClassFactory";
inline constexpr char kObjectPath[] = "/org/tolvern/Brisolde/Object";
inline constexpr char kObjectInterface[] = "org.tolvern.Brisolde.EmbeddedObject";
// The in-place menu, exported while the object is active in place.
inline constexpr char kMenuPath[] = "/org/tolvern/Brisolde/Object/Menu";
inline constexpr char kMenuInterface[] = "com.canonical.dbusmenu";

// Error names of replies.
inline constexpr char kErrorObjectTaken[] = "org.tolvern.Brisolde.Error.ObjectTaken";
inline constexpr char kErrorCreateFailed[] = "org.tolvern.Brisolde.Error.CreateFailed";
inline constexpr char kErrorNoExtent[] = "org.tolvern.Brisolde.Error.NoExtent";
inline constexpr char kErrorInPlaceNotSupported[] =
    "org.tolvern.Brisolde.Error.InPlaceNotSupported";
inline constexpr char kErrorInPlaceFailed[] = "org.tolvern.Brisolde.Error.InPlaceFailed";

// Drawing aspects, as containers ask for them.
inline constexpr int DVASPECT_CONTENT = 1;
inline constexpr int DVASPECT_THUMBNAIL = 2;
inline constexpr int DVASPECT_ICON = 4;
inline constexpr int DVASPECT_DOCPRINT = 8;

// Extents are given in 0.01 mm.
inline constexpr int kHimetricPerInch = 2540;

} // namespace embedding
