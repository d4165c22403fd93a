// Everything a user of imgscope needs, in one include.
#pragma once

#include "imgscope/library/export.h"
#include "imgscope/library/version.h"

#include "imgscope/contracts/platform/exception.h"
#include "imgscope/contracts/platform/profile.h"
#include "imgscope/contracts/platform/string.h"
#include "imgscope/contracts/platform/win_compat.h"

#include "imgscope/contracts/foundation/colors.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/contracts/foundation/index.h"
#include "imgscope/contracts/foundation/memory_model.h"
#include "imgscope/contracts/foundation/phys_dim.h"
#include "imgscope/contracts/foundation/pixel_info.h"
#include "imgscope/contracts/foundation/prop_set.h"
#include "imgscope/contracts/foundation/units.h"
#include "imgscope/contracts/foundation/tile_distributor.h"
#include "imgscope/contracts/foundation/value.h"

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/document_types.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/document/stack.h"

#include "imgscope/scope/base_scope.h"
#include "imgscope/scope/selection_scope.h"
#include "imgscope/scope/intensity_calibration.h"

#include "imgscope/typed/picture.h"
#include "imgscope/typed/stack_scope.h"
#include "imgscope/typed/simple_stack.h"
#include "imgscope/typed/simple_ram_stack.h"
#include "imgscope/typed/multi_dim_stack_scope.h"
#include "imgscope/typed/layer_scope.h"

#include "imgscope/mosaic/mosaic_scope.h"
#include "imgscope/mosaic/stack_type.h"
#include "imgscope/mosaic/sample_search.h"
#include "imgscope/contracts/platform/sharpness.h"
#include "imgscope/contracts/platform/vector_ops.h"

#include "imgscope/io/ome_tiff.h"
#include "imgscope/io/document_compare.h"
