// The logo of the reference receipts, a 96 x 48 PNG (pngjs): a frame, a
// diagonal band and a checker corner.
const { PNG } = require('pngjs');

module.exports = function logo() {
    const png = new PNG({ width: 96, height: 48 });
    for (let y = 0; y < 48; y++) {
        for (let x = 0; x < 96; x++) {
            const marco = x < 3 || y < 3 || x > 92 || y > 44;
            const banda = Math.abs(x - 2 * y) < 6;
            const damero = x > 64 && y > 24 && ((x >> 2) + (y >> 2)) % 2 === 0;
            const i = (y * 96 + x) * 4;
            const v = marco || banda || damero ? 0 : 255;
            png.data[i] = png.data[i + 1] = png.data[i + 2] = v;
            png.data[i + 3] = 255;
        }
    }
    return png;
};
