#include "Main/DxGraphicsMovie.h"

#include <algorithm>
#include <cstring>

#include "Main/DxGraphics.h"
#include "Main/DxGraphicsFilter.h"
#include "Main/DxLog.h"
#include "Main/DxMemImg.h"
#include "Main/DxUseCLibOgg.h"

namespace ZiDaz {

namespace {

int ScreenBitsOr16() {
    const int bits = GetScreenColorBits();
    return bits > 0 ? bits : 16;
}

// The movie of a graph's image, -1 for none; false for a bad graph.
bool GraphMovie(HandleValue graph, HandleValue* movie) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr || r->Image == nullptr) return false;
    *movie = r->Image->Movie;
    return true;
}

// Software screens whose depth matches the frame's take the frame row by row.
void CopyFrameRows(const BASEIMAGE* frame, GraphHandleRecord* r) {
    const int bytesPerPixel = ScreenBitsOr16() / 8;
    if (bytesPerPixel != 1 && bytesPerPixel != 2 && bytesPerPixel != 4) return;
    MEMIMG& view = r->View;
    // A frame never larger than the graph it was opened for; clipped all the same.
    const int width = std::min(frame->Width, view.Width);
    const int height = std::min(frame->Height, view.Height);
    if (width <= 0 || height <= 0 || frame->Pixels == nullptr || view.Pixels == nullptr) return;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bytesPerPixel;
    const std::uint8_t* source = static_cast<const std::uint8_t*>(frame->Pixels);
    std::uint8_t* dest = view.Pixels;
    const std::ptrdiff_t destPitch = view.Shared->Pitch;
    for (int y = 0; y < height; ++y) {
        std::memcpy(dest, source, rowBytes);
        source += frame->Pitch;
        dest += destPitch;
    }
}

void UpdateDeviceGraph(MovieHandleData* m, GraphHandleRecord* r, HandleValue graph) {
    const GraphicsSystemStateData& g = GraphicsSystemState;
    if (m->isTheora) {
        void* surface = GetTheoraFrameSurface(m->decoder);
        const bool graphs = surface == nullptr && g.ShadersUsable != 0;
        const int prepared =
            ConvertTheoraFrame(m->decoder, surface == nullptr && !graphs ? 1 : 0, graphs ? 1 : 0,
                               surface != nullptr ? 1 : 0, nullptr);
        if (prepared == 0 && m->firstFrameShown) return;
        if (surface != nullptr) {
            Backend_UploadMovieFrame(m, r);
            m->firstFrameShown = 1;
            return;
        }
        const HandleValue y = GetTheoraYGraph(m->decoder);
        const HandleValue uv = GetTheoraUvGraph(m->decoder);
        if (graphs && y >= 0 && uv >= 0) {
            RunImageFilterToGraph(y, graph, static_cast<int>(ImageFilterMode::YuvToRgbUv), uv);
            m->firstFrameShown = 1;
            return;
        }
        // The decoder could not make its plane graphs: the RGB image must hold this frame.
        if (graphs) ConvertTheoraFrame(m->decoder, 1, 0, 0, nullptr);
    }
    if (m->yGraph != -1) {
        RunImageFilterToGraph(m->yGraph, graph, static_cast<int>(ImageFilterMode::YuvToRgbUv),
                              m->uvGraph);
        return;
    }
    if (m->currentFrameImage != nullptr) {
        const RECT source{r->SourceX, r->SourceY, r->SourceX + r->Width, r->SourceY + r->Height};
        TransferBaseImageRectToGraph(&source, 0, 0, graph, m->currentFrameImage, nullptr, 0, 0, 0,
                                     nullptr);
    }
}

void UpdateSoftwareGraph(MovieHandleData* m, GraphHandleRecord* r) {
    if (m->isTheora && ConvertTheoraFrame(m->decoder, 1, 0, 0, nullptr) == 0) {
        if (m->firstFrameShown) return;
        m->firstFrameShown = 1;
    }
    const BASEIMAGE* frame = m->currentFrameImage;
    if (frame == nullptr || r->View.Shared == nullptr) return;
    if (r->View.Shared->Format->BitsPerPixel == frame->Format.BitsPerPixel) {
        CopyFrameRows(frame, r);
    } else {
        CopyBaseImageIntoMemImg(frame, nullptr, &r->View, 0, 0, r->Width, r->Height, 0, 0, 0);
    }
}

}  // namespace

int SetUpMovieGraph(GraphLoadRequest* request, HandleValue graph, const char16_t* fileName,
                    const void* memory, int size, int, int, void* loadContext) {
    // The texture flag and the movie option change nothing in this program.
    int width = 0, height = 0;
    MovieOpenParams options;
    std::memcpy(&options, request->Params.MovieOptions, sizeof(options));
    const HandleValue movie =
        OpenMovie(graph, &options, fileName, fileName != nullptr ? nullptr : memory,
                  size > 0 ? static_cast<std::size_t>(size) : 0, &width, &height, loadContext);
    const char16_t* name = fileName != nullptr ? fileName : u"";
    if (movie < 0) {
        WriteLogFormatUtf16(u"Image File Load Error : %s \n", name);
        return -1;
    }
    GraphCreateParams& create = request->Params.Create;
    create.ColorBits = ScreenBitsOr16();
    create.Alpha = 0;
    create.Float = 0;
    create.ChannelCount = 0;
    create.BitsPerChannel = 0;
    create.KeyAlpha = 0;
    create.CubeMap = 0;
    create.Managed = 0;
    create.MipLevels = 0;
    create.Reserved1 = 1;
    create.Reserved2 = 1;
    const GraphicsSystemStateData& g = GraphicsSystemState;
    const MovieHandleData* m = LookupMovieHandle(movie);
    const bool theoraSurface = m != nullptr && m->isTheora &&
                               GraphicsBackendKind == DX_GRAPHICS_BACKEND_D3D9 &&
                               g.MovieSurfaceSupport != 0;
    if (theoraSurface || g.ShadersUsable != 0) {
        // The image filters write the frame on the device.
        create.Drawable = 1;
        create.DrawableAlpha = 0;
        create.DrawableFloat = 0;
        create.DrawableDepthBuffer = 0;
        create.DrawableMipLevels = 0;
        create.DrawableChannelCount = 0;
    }
    if (SetUpGraphImage(&create, graph, width, height, 0, 0, 0, 0, -1, loadContext) != 0) {
        WriteLogFormatUtf16(u"Graph Handle Setup Error : %s", name);
        // Nothing owns the movie yet.
        DeleteHandle(movie);
        return -1;
    }
    GraphHandleRecord* r = LookUpGraphRecord(graph, loadContext != nullptr);
    if (r == nullptr || r->Image == nullptr) {
        DeleteHandle(movie);
        return -1;
    }
    r->Image->Movie = movie;
    SetMovieFrameCallback(movie, &UpdateGraphMovieFrame, graph);
    return 0;
}

void ClearNewMovieGraph(HandleValue graph, void* loadContext) {
    if (loadContext == nullptr) {
        FillGraph(graph, 0, 0, 0, 0);
        return;
    }
    GraphHandleRecord* r = LookUpGraphRecord(graph, 1);
    if (r == nullptr || r->Image == nullptr) return;
    if (r->Image->Format.SoftwareImage) {
        RECT whole{0, 0, r->Width, r->Height};
        FillMemImgBox(&r->View, &whole, ComposeScreenColor(0, 0, 0));
    } else {
        Backend_FillGraphColor(r, 0, 0, 0, 0, 0);
    }
}

int UpdateGraphMovieFrame(MovieHandleData* movie, std::int32_t graph) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr || r->Image == nullptr) return -1;
    if (r->Image->Format.DeviceImage)
        UpdateDeviceGraph(movie, r, graph);
    else
        UpdateSoftwareGraph(movie, r);
    return 0;
}

void AdvanceGraphMovie(const GraphHandleRecord* graph) {
    if (graph != nullptr && graph->Image != nullptr && graph->Image->Movie >= 0)
        AdvanceMovieFrame(graph->Image->Movie);
}

int PlayGraphMovie(HandleValue graph, int playType, int resumeOnly) {
    HandleValue movie;
    if (!GraphMovie(graph, &movie)) return -1;
    return movie == -1 ? 0 : StartMoviePlayback(movie, playType, resumeOnly);
}

int PauseGraphMovie(HandleValue graph, int keepResume) {
    HandleValue movie;
    if (!GraphMovie(graph, &movie)) return -1;
    return movie == -1 ? 0 : HaltMoviePlayback(movie, keepResume);
}

int SeekGraphMovie(HandleValue graph, int milliseconds) {
    HandleValue movie;
    if (!GraphMovie(graph, &movie)) return -1;
    return movie == -1 ? 0 : MoveMoviePositionMs(movie, milliseconds);
}

int SetGraphMovieVolume(int volume, HandleValue graph) {
    HandleValue movie;
    if (!GraphMovie(graph, &movie)) return -1;
    return movie == -1 ? 0 : ChangeMovieSoundVolume(volume, movie);
}

int SetGraphMoviePlaybackRate(HandleValue graph, double rate) {
    HandleValue movie;
    if (!GraphMovie(graph, &movie)) return -1;
    return movie == -1 ? 0 : SetMoviePlayRate(movie, rate);
}

int GetGraphMoviePosition(HandleValue graph) {
    HandleValue movie;
    if (!GraphMovie(graph, &movie)) return -1;
    return movie == -1 ? 0 : GetMoviePositionMs(movie);
}

int IsGraphMoviePlaying(HandleValue graph) {
    HandleValue movie;
    if (!GraphMovie(graph, &movie)) return -1;
    return movie == -1 ? 0 : IsMoviePlaying(movie);
}

int GetGraphMovieFrameCount(HandleValue graph) {
    HandleValue movie;
    if (!GraphMovie(graph, &movie)) return -1;
    return movie == -1 ? 0 : GetMovieFrameCount(movie);
}

std::int64_t GetGraphMovieFrameTime(HandleValue graph) {
    HandleValue movie;
    if (!GraphMovie(graph, &movie)) return -1;
    return movie == -1 ? 0 : GetMovieFrameTimeUs(movie);
}

}  // namespace ZiDaz
