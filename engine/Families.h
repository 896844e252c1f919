// Every format family's detectors, adjust functions and start-up hooks, gathered for the
// cascade (Cascade.cpp), init (EngineInterface.cpp) and the generic stage (Scan.cpp).
#pragma once

#include "engine/ByteSignatures.h"
#include "engine/ByteSource.h"
#include "engine/EngineDetectors.h"
#include "engine/PostRules.h"
#include "formats/archive/ArchiveFTAUtils.h"
#include "formats/media/AMRFTAUtils.h"
#include "formats/media/ASFHandler.h"
#include "formats/media/AtariFTAUtils.h"
#include "formats/media/AudioFTAUtils.h"
#include "formats/media/AutoCADUtil.h"
#include "formats/media/ImageFTAUtils.h"
#include "formats/media/PhotoshopFTAUtils.h"
#include "formats/media/SubtitleFTAUtils.h"
#include "formats/office/MSOffice2007.h"
#include "formats/office/OLEFTAUtil.h"
#include "formats/office/PSTFTAUtils.h"
#include "formats/text/TextBasedFTAUtils.h"
