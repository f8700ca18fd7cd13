#include "thumbnail.h"

#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include <cwchar>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;

// What a failed call returned, in words where the system has them.
std::wstring Explain(HRESULT hr) {
  std::wstring text;
  if (hr == WINCODEC_ERR_COMPONENTNOTFOUND ||
      hr == WINCODEC_ERR_UNKNOWNIMAGEFORMAT) {
    text = L"it is not a picture in a format this system can decode";
  } else if (hr == WINCODEC_ERR_BADIMAGE || hr == WINCODEC_ERR_BADHEADER ||
             hr == WINCODEC_ERR_FRAMEMISSING) {
    text = L"the picture is damaged";
  } else {
    wchar_t* buffer = nullptr;
    const DWORD size = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
            FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer),
        0, nullptr);
    if (size != 0) {
      text.assign(buffer, size);
      while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' ||
                               text.back() == L' ' || text.back() == L'.')) {
        text.pop_back();
      }
    }
    LocalFree(buffer);
    if (text.empty()) {
      text = L"error";
    }
  }
  wchar_t code[16];
  std::swprintf(code, 16, L" (0x%08lX)", static_cast<unsigned long>(hr));
  return text + code;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

ThumbnailResult Failure(const std::wstring& what, HRESULT hr) {
  return {false, {}, {}, what + L": " + Explain(hr)};
}

// A uniquely named empty file in the folder of `target`, made by the
// system so that two writers never share one; empty on failure, with the
// reason in `hr`.
std::wstring TemporaryFileBeside(const std::wstring& target, HRESULT& hr) {
  std::vector<wchar_t> full(MAX_PATH);
  wchar_t* name = nullptr;
  DWORD length = 0;
  for (;;) {
    length = GetFullPathNameW(target.c_str(), static_cast<DWORD>(full.size()),
                              full.data(), &name);
    if (length < full.size()) {
      break;
    }
    full.resize(length + 1);
  }
  if (length == 0 || name == nullptr) {
    hr = length == 0 ? HRESULT_FROM_WIN32(GetLastError())
                     : HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    return {};
  }
  const std::wstring folder(full.data(), name);
  std::vector<wchar_t> temporary(folder.size() + 16);
  if (GetTempFileNameW(folder.c_str(), L"tmb", 0, temporary.data()) == 0) {
    hr = HRESULT_FROM_WIN32(GetLastError());
    return {};
  }
  return temporary.data();
}

// Encodes `source` as a JPEG file at `path`; the stream, and with it the
// file, is closed when this returns.
HRESULT WriteJpeg(IWICImagingFactory* factory, IWICBitmapSource* source,
                  PixelSize size, const std::wstring& path) {
  ComPtr<IWICStream> stream;
  HRESULT hr = factory->CreateStream(&stream);
  if (SUCCEEDED(hr)) {
    hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
  }
  ComPtr<IWICBitmapEncoder> encoder;
  if (SUCCEEDED(hr)) {
    hr = factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder);
  }
  if (SUCCEEDED(hr)) {
    hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
  }
  ComPtr<IWICBitmapFrameEncode> frame;
  ComPtr<IPropertyBag2> options;
  if (SUCCEEDED(hr)) {
    hr = encoder->CreateNewFrame(&frame, &options);
  }
  if (SUCCEEDED(hr)) {
    hr = frame->Initialize(options.Get());
  }
  if (SUCCEEDED(hr)) {
    hr = frame->SetSize(size.width, size.height);
  }
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (SUCCEEDED(hr)) {
    hr = frame->SetPixelFormat(&format);
  }
  if (SUCCEEDED(hr) && format != GUID_WICPixelFormat24bppBGR) {
    hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
  }
  if (SUCCEEDED(hr)) {
    hr = frame->WriteSource(source, nullptr);
  }
  if (SUCCEEDED(hr)) {
    hr = frame->Commit();
  }
  if (SUCCEEDED(hr)) {
    hr = encoder->Commit();
  }
  if (SUCCEEDED(hr)) {
    hr = stream->Commit(STGC_DEFAULT);
  }
  return hr;
}

}  // namespace

ThumbnailResult MakeThumbnail(const std::wstring& picture,
                              const std::wstring& thumbnail) {
  const std::wstring cannotRead = L"Cannot read the picture " + Quoted(picture);
  const std::wstring cannotWrite =
      L"Cannot write the thumbnail " + Quoted(thumbnail);

  ComPtr<IWICImagingFactory> factory;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr,
                                CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
  if (FAILED(hr)) {
    return Failure(L"Cannot start the Windows Imaging Component", hr);
  }

  // Decode first: a picture that cannot be read leaves nothing behind.
  ComPtr<IWICBitmapDecoder> decoder;
  hr = factory->CreateDecoderFromFilename(
      picture.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
      &decoder);
  ComPtr<IWICBitmapFrameDecode> frame;
  if (SUCCEEDED(hr)) {
    hr = decoder->GetFrame(0, &frame);
  }
  PixelSize size{};
  if (SUCCEEDED(hr)) {
    hr = frame->GetSize(&size.width, &size.height);
  }
  if (FAILED(hr)) {
    return Failure(cannotRead, hr);
  }
  const PixelSize target = ThumbnailSize(size, kThumbnailSide);

  ComPtr<IWICBitmapSource> scaled = frame;
  if (target.width != size.width || target.height != size.height) {
    ComPtr<IWICBitmapScaler> scaler;
    hr = factory->CreateBitmapScaler(&scaler);
    if (SUCCEEDED(hr)) {
      hr = scaler->Initialize(frame.Get(), target.width, target.height,
                              WICBitmapInterpolationModeFant);
    }
    scaled = scaler;
  }
  // JPEG holds no transparency and no palette: 24-bit colour it is.
  ComPtr<IWICFormatConverter> converter;
  if (SUCCEEDED(hr)) {
    hr = factory->CreateFormatConverter(&converter);
  }
  if (SUCCEEDED(hr)) {
    hr = converter->Initialize(scaled.Get(), GUID_WICPixelFormat24bppBGR,
                               WICBitmapDitherTypeNone, nullptr, 0.0,
                               WICBitmapPaletteTypeCustom);
  }
  if (FAILED(hr)) {
    return Failure(cannotRead, hr);
  }

  const std::wstring temporary = TemporaryFileBeside(thumbnail, hr);
  if (temporary.empty()) {
    return Failure(cannotWrite, hr);
  }
  hr = WriteJpeg(factory.Get(), converter.Get(), target, temporary);
  if (FAILED(hr)) {
    DeleteFileW(temporary.c_str());
    // The encoder pulls the pixels, so a picture damaged past its header
    // fails only now, as does a full disk.
    return Failure(cannotWrite + L" of " + Quoted(picture), hr);
  }
  if (MoveFileExW(temporary.c_str(), thumbnail.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ==
      FALSE) {
    hr = HRESULT_FROM_WIN32(GetLastError());
    DeleteFileW(temporary.c_str());
    return Failure(cannotWrite, hr);
  }
  return {true, size, target, {}};
}
