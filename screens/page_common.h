/* The parts every page is built from: skin pictures held while the page is
 * current, the button group and the two fonts made on enter, and the
 * off-screen context a paint handler draws into when it is given none. */
#pragma once

#include <windows.h>

#include "vx_button.h"
#include "vx_page.h"
#include "vx_skin.h"

/* A skin item drawn as a picture. Its bitmap reference is taken at the first
 * paint and dropped by page_picture_release, so one enter/leave cycle holds
 * at most one reference however often the page is painted. */
typedef struct PagePicture {
  VxSkinItem* item;   /* null while the page is not current or the skin lacks it */
  HBITMAP bitmap;     /* the reference held, or null */
} PagePicture;

/* The item `id` of the shell's skin (none: null); no reference yet. */
void page_picture_find(PagePicture* picture, int id);
/* Draws the picture into its item's rectangle with vx_stretch_frame (frame
 * 0 plain, 1 or 2 for the halves of a two-state picture), SRCCOPY. */
void page_picture_draw(PagePicture* picture, HDC dc, int frame);
/* Drops the reference (when one is held) and clears the picture. */
void page_picture_release(PagePicture* picture);

/* The controls of a current page. */
typedef struct PageControls {
  ButtonGroup* group;   /* null while the page is not current */
  HFONT title_font;     /* weight 600, height 40, "默认" */
  HFONT label_font;     /* weight 600, the page's height and face */
} PageControls;

/* When the controls have no group yet: creates one on the main window (type
 * 0) with the click callback, adds the `count` buttons of `ids` in order by id
 * only and binds the group to the shell's skin, hiding unusable buttons.
 * Then creates both fonts. -1 when the group cannot be created (nothing else
 * is made then), else 0. */
int page_controls_build(PageControls* controls, VxButtonClickFn click, const int* ids, int count,
                        int label_height, const WCHAR* label_face);
/* Releases the group's image references, destroys it and deletes the fonts. */
void page_controls_release(PageControls* controls);

/* Touch forwarding of a page's handlers. */
int page_controls_down(PageControls* controls, int x, int y);
int page_controls_move(PageControls* controls, int x, int y);
int page_controls_up(PageControls* controls, int x, int y);

/* One paint: the context to draw into, and the off-screen copy of the
 * screen made when the handler was given none. */
typedef struct PagePaint {
  HDC dc;              /* where the page draws */
  HDC window_dc;       /* non-null only for an off-screen paint */
  HBITMAP bitmap;
  HGDIOBJ old_bitmap;
  HGDIOBJ old_font;    /* the context's font before the page selected one */
  int font_selected;
} PagePaint;

/* Starts a paint into `dc` or, when null, into a copy of the screen. Sets
 * transparent background mode. Returns the context (null when none could be
 * made: the page then draws nothing). */
HDC page_paint_begin(PagePaint* paint, HDC dc);
/* Selects a font (null: keeps the current one) and a text colour. */
void page_paint_text(PagePaint* paint, HFONT font, COLORREF colour);
/* Restores the context's font; for an off-screen paint copies the whole
 * screen back to the window and releases the contexts and the bitmap. */
void page_paint_end(PagePaint* paint);

/* Sets up and registers a page record with the page manager (see pages.h). */
int page_register(Page* page, int id, VxPagePaintFn paint, VxPageMouseFn move, VxPageMouseFn down,
                  VxPageMouseFn up, VxPageEnterFn enter, VxPageLeaveFn leave);

/* Repaints the whole main window (invalidation with erase). */
void page_invalidate(void);

#define PAGE_TITLE_HEIGHT 40
#define PAGE_LABEL_HEIGHT 30
#define PAGE_FONT_WEIGHT 600
#define PAGE_FACE_DEFAULT TEXT("默认")
#define PAGE_FACE_SONG TEXT("宋体")
#define PAGE_WHITE 0xFFFFFF
#define PAGE_BLACK 0x000000
#define PAGE_ACCENT 0xEED322 /* the skin's cyan, RGB(0x22, 0xD3, 0xEE) */
#define PAGE_BACK_BUTTON 102
#define PAGE_COUNT_OF(a) ((int)(sizeof(a) / sizeof((a)[0])))
