#!/usr/bin/env bash
# Makes the PDF files the stamping tests read, as offices get them:
#   quotation.pdf    a 견적서 of three pages written by LibreOffice, Korean
#                    text in embedded fonts, "(인)" on the first page and
#                    twice on the last;
#   scan.pdf         a scanner's kind of file: pages that are only a picture,
#                    no text (LibreOffice Draw from a JPEG);
#   amended.pdf      quotation.pdf updated in place: an attachment added by
#                    poppler's pdfattach, which appends an incremental update;
#   encrypted.pdf    quotation.pdf encrypted by qpdf (AES-256, user password
#                    "user").
# Needs LibreOffice (libreoffice-writer-nogui, libreoffice-draw-nogui),
# ImageMagick, poppler-utils and qpdf; the files are kept in the tree, so tests do
# not need them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work  # LibreOffice's profile, thrown away
soffice --headless --convert-to pdf:writer_web_pdf_Export --outdir "$work" "$here/quotation.html" >/dev/null
cp "$work/quotation.pdf" "$here/quotation.pdf"
# A grey, slightly noisy sheet with print on it, at 150 dpi: A4 is 1240 × 1754.
convert -size 1240x1754 xc:'#f4f2ee' -attenuate 0.3 +noise Gaussian -fill '#202020' -font DejaVu-Sans -pointsize 42 \
  -annotate +160+260 'INVOICE 2026-1210' -annotate +160+1500 'Signature:' -quality 80 -density 150 -units PixelsPerInch \
  "$work/scan.jpg"
soffice --headless --convert-to pdf --outdir "$work" "$work/scan.jpg" >/dev/null
cp "$work/scan.pdf" "$here/scan.pdf"
printf '발주 참고 사항: 납품 장소 변경 없음.\n' >"$work/note.txt"
pdfattach "$here/quotation.pdf" "$work/note.txt" "$here/amended.pdf"
qpdf --encrypt user owner 256 -- "$here/quotation.pdf" "$here/encrypted.pdf"
ls -l "$here"/*.pdf
