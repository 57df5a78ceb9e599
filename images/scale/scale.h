/*
 * Row-streaming image resampler.
 *
 * Source rows are handed over one at a time, top to bottom; finished
 * destination rows come back as soon as every source row they depend on has
 * arrived. Resampling is separable: each needed source row is filtered
 * horizontally to the destination width, and destination rows are weighted
 * sums of those filtered rows. All sample arithmetic is fixed point with
 * filter weights normalised to 16384 (1.0). Samples are packed, 1 or 8 bits
 * each; 8-bit images may have any number of interleaved components, each
 * resampled on its own. Memory use is bounded by the destination width times
 * the number of filtered rows two consecutive destination rows share, not by
 * the image height.
 *
 * Calling order: scale_init, scale_do for source rows 0 to srcHeight - 1 in
 * order, scale_flush, scale_free. A resampler serves one thread; separate
 * resamplers share nothing.
 *
 * These functions are internal to the optimizer library and are not exported
 * from it.
 */
#ifndef OSSEL_SCALE_H
#define OSSEL_SCALE_H

#ifdef __cplusplus
extern "C" {
#endif

/* One resampler: geometry, filter weights and the row buffers. */
typedef struct scale_state scale_state;

/*
 * Creates a resampler.
 *
 * srcWidth, srcHeight  source size in pixels, both at least 1.
 * dstWidth, dstHeight  destination size in pixels, or 0 to derive it from the
 *                      axis's scale factor as trunc(scale * size + 0.5) (with
 *                      the scale rounded to single precision first).
 * xScale, yScale       scale factors (destination / source), or 0 to derive
 *                      them from the sizes as dst / src in single precision.
 *                      When an axis has neither a size nor a scale, it takes
 *                      the other axis's scale.
 * filter               "box", "triangle", "mitchell", "LWbox", "point" or
 *                      "ptbox" (which acts as "box" unless both scale factors
 *                      are at most 0.2).
 * inBitsPerSample      1 or 8.
 * inBitsPerPixel       distance from one source pixel to the next, in bits.
 * inRowBits            bits in one source row (the row is read as
 *                      ceil(inRowBits / 8) bytes); at least
 *                      srcWidth * inBitsPerPixel.
 * outBitsPerSample     must equal inBitsPerSample.
 * outBitsPerPixel      distance from one destination pixel to the next.
 * outRowBits           bits in one destination row; at least
 *                      dstWidth * outBitsPerPixel. Destination rows follow
 *                      one another in an output block with a stride of
 *                      ceil(outRowBits / 8) bytes.
 * components           number of interleaved components, at least 1; 1-bit
 *                      images must have exactly one.
 *
 * Returns the resampler, owned by the caller and released with scale_free,
 * or NULL when: a filter name is unknown or NULL; a size is negative, a
 * source size is 0, or a derived destination size is below 1; a scale is
 * negative or not finite; neither a size nor a scale is known for either
 * axis; the sample depths are not 1 or 8 or differ; a pixel or row is too
 * small for its samples, or a byte count overflows; a destination pixel's
 * centre lies beyond the source (inconsistent sizes and scales); or memory
 * runs out.
 */
scale_state *scale_init(int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                        double xScale, double yScale, const char *filter,
                        int inBitsPerSample, int inBitsPerPixel, int inRowBits,
                        int outBitsPerSample, int outBitsPerPixel, int outRowBits,
                        int components);

/*
 * Hands one source row to the resampler and returns the destination rows it
 * finishes.
 *
 * s             the resampler.
 * srcRow        the source row, ceil(inRowBits / 8) readable bytes; read only
 *               during the call.
 * bitOffset     bit offset of component 1 from the start of a pixel; component
 *               k starts at bitOffset * k (0 for one component, 8 for
 *               interleaved 8-bit samples). Every component must lie inside
 *               the pixel, and for 8-bit samples on a byte boundary.
 * srcRowNumber  the row's number: 0 starts (or restarts) the image, every
 *               further call must pass the next number, below srcHeight.
 * rowCount      must be 1.
 * outBlock      in: *outBlock NULL asks for the resampler's own block, which
 *               the call then stores in *outBlock; it holds the largest number
 *               of rows one call can produce, is reused by later calls, belongs
 *               to the resampler and stays valid until scale_free. Passing that
 *               block back again is fine. Otherwise *outBlock is the caller's
 *               block of dstHeight / srcHeight + 1 rows (integer division) of
 *               ceil(outRowBits / 8) bytes. That is enough for every filter but
 *               "mitchell" when the scales follow from the sizes (scale 0); a
 *               call that would produce more rows fails without writing.
 * outBitOffset  bit offset of component 1 in a destination pixel, as bitOffset.
 * firstDstRow   out: number of the first destination row produced.
 * dstRowCount   out: number of destination rows produced, 0 or more, stored
 *               one after another at the start of *outBlock. Bits of the rows
 *               that belong to no pixel are left as they were.
 *
 * Source rows after the last destination row has been produced are accepted
 * and ignored. Returns 1 on success, 0 on failure: a NULL argument, rowCount
 * not 1, a row out of order or beyond the source, offsets that do not fit
 * the pixel, a caller's block too small for this call, or no memory for the
 * resampler's own block. A failed call consumes nothing: the same row may be
 * given again (with a larger block, say).
 */
int scale_do(scale_state *s, const unsigned char *srcRow, int bitOffset, int srcRowNumber, int rowCount,
             unsigned char **outBlock, int outBitOffset, int *firstDstRow, int *dstRowCount);

/*
 * Ends the image: produces the destination row still under construction, if
 * source rows for it have arrived but the image ended before its last one
 * (complete input leaves nothing, and 0 rows are produced). The block and
 * offset rules are those of scale_do; at most one row is produced. Later
 * calls produce nothing until the image is restarted with row 0.
 *
 * Returns 1 on success, 0 on a NULL argument, an offset that does not fit or
 * no memory for the resampler's own block.
 */
int scale_flush(scale_state *s, unsigned char **outBlock, int outBitOffset, int *firstDstRow, int *dstRowCount);

/* Releases the resampler and its own output block. NULL is ignored. */
void scale_free(scale_state *s);

#ifdef __cplusplus
}
#endif

#endif /* OSSEL_SCALE_H */
