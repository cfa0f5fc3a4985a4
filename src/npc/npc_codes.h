#pragma once
// The small integer codes that NPC fields hold and that scripts and clients share.

#include <cstdint>

// Facings of body and head, as clients draw them.
constexpr int32_t kFacingNorth = 0;
constexpr int32_t kFacingEast = 1;
constexpr int32_t kFacingSouth = 2;
constexpr int32_t kFacingWest = 3;

// What an NPC is doing; only walking changes anything on the server.
constexpr int32_t kActionIdle = 0;
constexpr int32_t kActionWalking = 3;
constexpr int32_t kActionWaiting = 4;

// Kinds of NPC from the definition file. Only personscript NPCs run person-script blocks.
constexpr int32_t kTypeNone = 0;  // never given a type by a definition
constexpr int32_t kTypeHeadturn = 1;
constexpr int32_t kTypePersonscript = 2;
constexpr int32_t kTypeStill = 3;
