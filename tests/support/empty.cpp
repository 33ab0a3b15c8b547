// SPDX-License-Identifier: MIT
// Keeps the support library non-empty.
