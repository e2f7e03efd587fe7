/* Bitmap 101: the eyedropper on the colour-pick buttons, 18 x 18 pixels, a
   black dropper drawn from the lower left to the upper right on light grey.
   One string a row, top to bottom: '#' black, 'o' dark grey, 'w' white, '.'
   light grey. The Windows build turns it into the resource (cmake/
   eyedropper.cmake); other platforms read it as it stands. */
#ifndef TAVRISK_EYEDROPPER_H
#define TAVRISK_EYEDROPPER_H

#define TAVRISK_EYEDROPPER_SIZE 18

#define TAVRISK_EYEDROPPER_ROWS \
    "..................",       \
    "............###...",       \
    "...........#####..",       \
    "...........######.",       \
    ".........#######..",       \
    "..........######..",       \
    ".........#w####...",       \
    "........#w.#.#....",       \
    ".......#w.#.......",       \
    "......#w.#........",       \
    ".....#w.#.........",       \
    "....#w.#..........",       \
    "...#w.#...........",       \
    "...#.#............",       \
    "..#.#.............",       \
    "..##..............",       \
    ".#o...............",       \
    ".................."

#endif
