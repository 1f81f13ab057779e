#ifndef NORVA_IMAGE_FORMATS_H
#define NORVA_IMAGE_FORMATS_H

/* Every image class of the file library. */
#include "image_aptina.h"
#include "image_bmp.h"
#include "image_nraw.h"
#include "image_nrv.h"
#include "image_plraw.h"
#include "image_pxm.h"
#include "image_yuv.h"

#endif
